#include "instance/jvm_options.h"

#include "instance/path_text.h"
#include "platform/os_errors.h"
#include "platform/os_files.h"
#include "platform/os_process.h"
#include "text/bounded_text.h"

#include <cstdio>
#include <cstring>

// Options the instance's own settings stand for. The ways of setting the
// class path that the launchers know: the VM itself knows only the first;
// whoever writes another means the class path as well. A further options
// file could set the class path, and would hide options from the log. And
// options that end the VM before start() is called, one of them rewriting
// the Java installation's own class archive (as root, the machine's JDK).
struct refused_option {
    const char* word;
    const char* reason;
};
static const char CLASS_PATH_REASON[] = "the class path comes from the instance's folders";
static const refused_option REFUSED_OPTIONS[] = {
    {"-Djava.class.path", CLASS_PATH_REASON},
    {"-cp", CLASS_PATH_REASON},
    {"-classpath", CLASS_PATH_REASON},
    {"--class-path", CLASS_PATH_REASON},
    {"-XX:VMOptionsFile", "the instance's options file is jvm.options"},
    {"-Xshare:dump", "it has the VM rewrite the Java installation's class archive and end"},
    {"-XX:+DumpSharedSpaces", "it has the VM rewrite the Java installation's class archive and end"},
    {"-XX:+PrintSharedArchiveAndExit", "it has the VM end before the application starts"},
};

bool option_is(const char* option, const char* word)
{
    size_t length = strlen(word);
    if (strncmp(option, word, length) != 0)
        return false;
    char next = option[length];
    return next == '\0' || next == '=' || next == ' ' || next == '\t';
}

// Why the option is refused: it is one of REFUSED_OPTIONS. Null when it is
// not refused.
static const char* refusal_reason(const char* option)
{
    for (const refused_option& refused : REFUSED_OPTIONS)
        if (option_is(option, refused.word))
            return refused.reason;
    return nullptr;
}

// How much of a line beyond the limit its refusal shows.
enum { SHOWN_OF_LONG_LINE = 40 };

static bool is_blank(char c)
{
    return c == ' ' || c == '\t';
}

// Says that a line is refused, showing shown characters of it. Returns -1.
static int refuse_line(char* refusal, int line, const char* text, int shown, const char* reason)
{
    snprintf(refusal, LONG_TEXT_CAPACITY, "line %d: '%.*s' refused: %s", line, shown, text, reason);
    return -1;
}

// Puts a UTF-8 option into the code page the VM reads its options in.
// Returns 0, or -1 with refusal set.
static int convert_option(int number, char* option, int* option_length, char* refusal)
{
    size_t length = static_cast<size_t>(*option_length);
    os_error error;
    os_text_conversion result = os_code_page_from_utf8(option, &length, &error);
    *option_length = static_cast<int>(length);
    option[length] = '\0';
    if (result == OS_TEXT_EXACT)
        return 0;
    char reason[128];
    if (result == OS_TEXT_INEXACT)
        snprintf(reason, sizeof reason, "it holds characters that the ANSI code page %u cannot hold",
                 os_text_code_page());
    else
        snprintf(reason, sizeof reason, "it cannot be converted from UTF-8: %s failed: %lu", error.call,
                 error.code);
    return refuse_line(refusal, number, option, *option_length, reason);
}

// Takes the option of one line (without its line end) unless it is blank or
// a comment, converted from UTF-8 when utf8 says so. Returns 0, or -1 with
// refusal set.
static int take_line(int number, char* line, size_t length, bool utf8, std::vector<std::string>* options,
                     char* refusal)
{
    if (length > JVM_OPTION_LINE_MOST) {
        char reason[64];
        snprintf(reason, sizeof reason, "longer than %d characters (its start is shown)", JVM_OPTION_LINE_MOST);
        return refuse_line(refusal, number, line, SHOWN_OF_LONG_LINE, reason);
    }
    size_t first = 0;
    while (first < length && is_blank(line[first]))
        ++first;
    while (length > first && is_blank(line[length - 1]))
        --length;
    if (first == length || line[first] == '#')
        return 0;
    char* option = line + first;
    int option_length = static_cast<int>(length - first);
    if (memchr(option, '\0', length - first) != nullptr)
        return refuse_line(refusal, number, option, option_length, "it holds a zero byte");
    line[length] = '\0';
    if (utf8 && convert_option(number, option, &option_length, refusal) != 0)
        return -1;
    if (const char* reason = refusal_reason(option))
        return refuse_line(refusal, number, option, option_length, reason);
    if (options->size() >= JVM_OPTIONS_MOST) {
        char reason[64];
        snprintf(reason, sizeof reason, "more than %d options", JVM_OPTIONS_MOST);
        return refuse_line(refusal, number, option, option_length, reason);
    }
    options->push_back(option);
    return 0;
}

int parse_jvm_options(char* text, size_t length, std::vector<std::string>* options, char* refusal)
{
    if (length > JVM_OPTIONS_FILE_MOST) {
        snprintf(refusal, LONG_TEXT_CAPACITY, "refused: larger than %d bytes", JVM_OPTIONS_FILE_MOST);
        return -1;
    }
    text[length] = '\0';
    // Notepad's "Unicode" starts with the byte-order mark of UTF-16, little
    // or big endian; every other character then holds a zero byte.
    if (length >= 2 && ((text[0] == '\xFF' && text[1] == '\xFE') || (text[0] == '\xFE' && text[1] == '\xFF'))) {
        snprintf(refusal, LONG_TEXT_CAPACITY, "refused: it is saved as UTF-16; save it as UTF-8");
        return -1;
    }
    static const char BYTE_ORDER_MARK[] = "\xEF\xBB\xBF";
    size_t at = (length >= 3 && memcmp(text, BYTE_ORDER_MARK, 3) == 0) ? 3 : 0;
    // What Notepad saves today; a file that is not UTF-8 is taken as written
    // in the code page itself.
    bool utf8 = is_utf8(text + at, length - at);
    for (int number = 1; at < length; ++number) {
        // A line ends in LF, CRLF or a CR alone.
        size_t line_length = strcspn(text + at, "\r\n");
        size_t end = at + line_length;
        // strcspn stops at a zero byte too: the line goes on behind it.
        while (end < length && text[end] == '\0')
            end += 1 + strcspn(text + end + 1, "\r\n");
        if (end > length)
            end = length;
        line_length = end - at;
        size_t next = end;
        if (next < length)
            next += (text[next] == '\r' && next + 1 < length && text[next + 1] == '\n') ? 2 : 1;
        // The zero put behind an option lands on its line end, a trimmed
        // blank or the byte after the text.
        if (take_line(number, text + at, line_length, utf8, options, refusal) != 0)
            return -1;
        at = next;
    }
    return 0;
}

run_failure read_jvm_options(const std::string& instance_folder, std::vector<std::string>* options)
{
    const std::string path = instance_folder + path_separator() + "conf" + path_separator() + "jvm.options";
    // Room for a file one byte over the limit, and the zero behind it.
    std::vector<char> text(JVM_OPTIONS_FILE_MOST + 2);
    size_t length = 0;
    os_error error;
    os_file_result result = os_read_file(path.c_str(), text.data(), text.size() - 1, &length, &error);
    if (result == OS_FILE_MISSING)
        return {};
    if (result == OS_FILE_NOT_REGULAR)
        return fail_format("JVM options file '%s' refused: it is not a regular file", path.c_str());
    if (result != OS_FILE_DONE)
        return fail_format("Cannot read the JVM options file: %s('%s') failed: %lu", error.call, path.c_str(),
                           error.code);
    char refusal[LONG_TEXT_CAPACITY];
    if (parse_jvm_options(text.data(), length, options, refusal) != 0)
        return fail_format("JVM options file '%s' %s", path.c_str(), refusal);
    return {};
}
