#include "text/bounded_text.h"

#include <cstdint>
#include <cstdio>

static bool starts_inside(const char* dest, size_t capacity, const char* source)
{
    uintptr_t d = reinterpret_cast<uintptr_t>(dest);
    uintptr_t s = reinterpret_cast<uintptr_t>(source);
    return s >= d && s - d < capacity;
}

// Copies source, terminator included, to dest + at. The partial copy of a
// text that does not fit is wiped by emptying the whole destination.
static int copy_from(char* dest, size_t capacity, size_t at, const char* source)
{
    for (size_t i = at; i < capacity; ++i) {
        dest[i] = *source;
        if (*source++ == '\0')
            return 0;
    }
    dest[0] = '\0';
    return RANGE_ERROR;
}

static int check_source(char* dest, size_t capacity, const char* source)
{
    if (source == nullptr) {
        dest[0] = '\0';
        return INVALID_ARGUMENT;
    }
    if (starts_inside(dest, capacity, source)) {
        dest[0] = '\0';
        return RANGE_ERROR;
    }
    return 0;
}

// The checks every writer into a bounded buffer makes first: a missing
// destination or capacity 0 is refused untouched; a missing source, or one
// that starts inside the destination, empties it. Returns 0 or the error.
static int check_arguments(char* dest, size_t capacity, const char* source)
{
    if (dest == nullptr || capacity == 0)
        return INVALID_ARGUMENT;
    return check_source(dest, capacity, source);
}

int bounded_append(char* dest, size_t capacity, const char* source)
{
    int error = check_arguments(dest, capacity, source);
    if (error != 0)
        return error;
    size_t length = 0;
    while (length < capacity && dest[length] != '\0')
        ++length;
    if (length == capacity) {
        dest[0] = '\0';
        return INVALID_ARGUMENT;
    }
    return copy_from(dest, capacity, length, source);
}

int bounded_copy(char* dest, size_t capacity, const char* source)
{
    int error = check_arguments(dest, capacity, source);
    if (error != 0)
        return error;
    return copy_from(dest, capacity, 0, source);
}

int append_pieces(char* dest, size_t capacity, std::initializer_list<const char*> pieces)
{
    for (const char* piece : pieces) {
        int error = bounded_append(dest, capacity, piece);
        if (error != 0)
            return error;
    }
    return 0;
}

static char ascii_lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool text_equal_nocase(const char* a, const char* b)
{
    while (*a != '\0' && ascii_lower(*a) == ascii_lower(*b)) {
        ++a;
        ++b;
    }
    return *a == '\0' && *b == '\0';
}

bool text_contains_nocase(const char* text, const char* needle)
{
    for (; *text != '\0'; ++text) {
        size_t i = 0;
        while (needle[i] != '\0' && ascii_lower(text[i]) == ascii_lower(needle[i]))
            ++i;
        if (needle[i] == '\0')
            return true;
    }
    return *needle == '\0';
}

// The length of the sequence a lead byte starts, and the least value it may
// encode (a smaller one is an overlong form); 0 for a byte no sequence
// starts with.
static int utf8_sequence_length(unsigned char lead, unsigned long* least)
{
    if (lead < 0x80)
        return (*least = 0), 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        return (*least = 0x80), 2;
    if (lead >= 0xE0 && lead <= 0xEF)
        return (*least = 0x800), 3;
    if (lead >= 0xF0 && lead <= 0xF4)
        return (*least = 0x10000), 4;
    return 0;
}

bool is_utf8(const char* text, size_t length)
{
    const unsigned char* at = reinterpret_cast<const unsigned char*>(text);
    const unsigned char* end = at + length;
    while (at < end) {
        unsigned long least = 0;
        int count = utf8_sequence_length(*at, &least);
        if (count == 0 || end - at < count)
            return false;
        unsigned long value = count == 1 ? *at : *at & (0x7F >> count);
        for (int i = 1; i < count; ++i) {
            if ((at[i] & 0xC0) != 0x80)
                return false;
            value = (value << 6) | (at[i] & 0x3F);
        }
        if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
            return false;
        at += count;
    }
    return true;
}

bool is_control_character(char c)
{
    unsigned char code = static_cast<unsigned char>(c);
    return code < 0x20 || code == 0x7f;
}

// The escape of a control character: "\n", "\r", "\t" or "\x" and two hex digits.
static void escape_of(char c, char* escape, size_t capacity)
{
    switch (c) {
    case '\n':
        snprintf(escape, capacity, "\\n");
        break;
    case '\r':
        snprintf(escape, capacity, "\\r");
        break;
    case '\t':
        snprintf(escape, capacity, "\\t");
        break;
    default:
        snprintf(escape, capacity, "\\x%02x", static_cast<unsigned char>(c));
    }
}

int escape_control_characters(char* dest, size_t capacity, const char* source)
{
    int error = check_arguments(dest, capacity, source);
    if (error != 0)
        return error;
    size_t length = 0;
    for (; *source != '\0'; ++source) {
        char escape[8] = {*source, '\0'};
        if (is_control_character(*source))
            escape_of(*source, escape, sizeof escape);
        for (const char* e = escape; *e != '\0'; ++e) {
            if (length + 1 >= capacity) {
                dest[0] = '\0';
                return RANGE_ERROR;
            }
            dest[length++] = *e;
        }
    }
    dest[length] = '\0';
    return 0;
}

int parse_whole_number(const char* text, int most)
{
    int value = 0;
    for (const char* at = text; *at != '\0'; ++at) {
        if (*at < '0' || *at > '9')
            return -1;
        value = value * 10 + (*at - '0');
        if (value > most)
            return -1;
    }
    return value >= 1 ? value : -1;
}
