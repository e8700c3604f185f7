// Fixed-capacity text buffers holding narrow text and a terminating zero.
// A text that does not fit is never cut short: the destination is emptied and
// the operation says so with its result.
#pragma once
#include <cstddef>
#include <initializer_list>

enum {
    INVALID_ARGUMENT = 22,
    RANGE_ERROR = 34,
};

enum {
    PATH_CAPACITY = 260,
    SERVICE_NAME_CAPACITY = 256, // a service name names registry keys, of at most 255 characters
    LONG_TEXT_CAPACITY = 10000,
};

// Appends source behind the text in dest. Returns 0, INVALID_ARGUMENT (dest
// missing or of capacity 0: nothing touched; source missing or dest without a
// terminator within its capacity: dest emptied) or RANGE_ERROR (the result
// does not fit, or source starts inside dest's capacity: dest emptied).
int bounded_append(char* dest, size_t capacity, const char* source);

// Copies source into dest from its start; results as for bounded_append.
int bounded_copy(char* dest, size_t capacity, const char* source);

// Appends the pieces one after another, stopping at the first that does not
// fit. Returns 0, or the failed append's error number (dest is then empty).
int append_pieces(char* dest, size_t capacity, std::initializer_list<const char*> pieces);

// True when both texts are equal, ignoring ASCII case.
bool text_equal_nocase(const char* a, const char* b);

// True when needle occurs anywhere in text, ignoring ASCII case.
bool text_contains_nocase(const char* text, const char* needle);

// True for the characters that must never reach a log line or the console
// raw: the ASCII control characters (tab, line feed and carriage return
// included) and DEL.
bool is_control_character(char c);

// True when the length bytes of text are well-formed UTF-8: no overlong form,
// no surrogate, nothing beyond U+10FFFF, no sequence cut short.
bool is_utf8(const char* text, size_t length);

// Copies source into dest with every control character shown escaped: \n,
// \r, \t, the others as \x and two hex digits (\x07), so that the text stays
// on one line. Results as for bounded_copy.
int escape_control_characters(char* dest, size_t capacity, const char* source);

// The value of a whole number from 1 to most written in decimal digits only
// (no sign, no blank). Returns -1 for any other text.
int parse_whole_number(const char* text, int most);
