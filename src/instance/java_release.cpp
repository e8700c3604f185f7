#include "instance/java_release.h"

#include "instance/path_text.h"
#include "platform/os_files.h"
#include "text/bounded_text.h"

#include <cstring>

static const char VERSION_KEY[] = "JAVA_VERSION=\"";

// The number at text, 0 when there is none; *end is set behind it.
static int read_number(const char* text, const char* limit, const char** end)
{
    int number = 0;
    const char* at = text;
    for (; at < limit && *at >= '0' && *at <= '9' && number < 10000; ++at)
        number = number * 10 + (*at - '0');
    *end = at;
    return at == text ? 0 : number;
}

int parse_java_feature_version(const char* text, size_t length)
{
    const char* limit = text + length;
    const size_t key_length = sizeof VERSION_KEY - 1;
    for (const char* line = text; line < limit;) {
        const char* line_end = static_cast<const char*>(memchr(line, '\n', static_cast<size_t>(limit - line)));
        if (line_end == nullptr)
            line_end = limit;
        if (static_cast<size_t>(line_end - line) > key_length && memcmp(line, VERSION_KEY, key_length) == 0) {
            const char* end = nullptr;
            int first = read_number(line + key_length, line_end, &end);
            // Before Java 9 the feature version came second: "1.8.0".
            if (first == 1 && end < line_end && *end == '.')
                return read_number(end + 1, line_end, &end);
            return first;
        }
        line = line_end + 1;
    }
    return 0;
}

int java_feature_version(const char* java_home)
{
    char path[PATH_CAPACITY];
    path[0] = '\0';
    if (append_pieces(path, sizeof path, {java_home, path_separator(), "release"}) != 0)
        return 0;
    // The file is a few lines; its version line comes early.
    char text[4096];
    size_t length = 0;
    os_error error;
    if (os_read_file(path, text, sizeof text, &length, &error) != OS_FILE_DONE)
        return 0;
    return parse_java_feature_version(text, length);
}
