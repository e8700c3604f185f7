#include "instance/class_archive.h"

#include "instance/jvm_options.h"

#include <cctype>
#include <cstring>
#include <initializer_list>

int parse_class_archive_setting(const char* text)
{
    if (strcmp(text, "on") == 0)
        return 1;
    if (strcmp(text, "off") == 0)
        return 0;
    return -1;
}

// Whether the flag name of a -XX: option (after its + or -) names sharing.
static bool names_sharing(const char* flag)
{
    for (const char* word : {"Shared", "Archive", "ClassList"})
        if (strstr(flag, word) != nullptr)
            return true;
    return false;
}

// Options with which the VM refuses to be created while asked to write an
// archive (agents, module patches, class pointers it cannot map the JDK's own
// archive with, a folder on the boot class path), or with which it does not
// use one (its own system class loader). A word ending in ':' or "-Xrun" is a
// prefix; any other stands alone or before '=' or a blank.
struct aside_option {
    const char* word;
    const char* why;
};
static const char CANNOT_WRITE[] = ", with which the VM cannot write it";
static const aside_option ASIDE_OPTIONS[] = {
    {"-javaagent:", CANNOT_WRITE},
    {"-agentlib:", CANNOT_WRITE},
    {"-agentpath:", CANNOT_WRITE},
    {"-Xrun", CANNOT_WRITE},
    {"--patch-module", CANNOT_WRITE},
    {"--limit-modules", CANNOT_WRITE},
    {"--upgrade-module-path", CANNOT_WRITE},
    {"-XX:-UseCompressedClassPointers", CANNOT_WRITE},
    {"-XX:ObjectAlignmentInBytes", CANNOT_WRITE},
    {"-Xbootclasspath/a:", CANNOT_WRITE},
    {"-Djava.system.class.loader", ", with which the VM does not use it"},
};

const char* archive_aside_reason(const char* option)
{
    if (strncmp(option, "-Xshare", 7) == 0 || (strncmp(option, "-XX:", 4) == 0 && names_sharing(option + 4)))
        return "";
    for (const aside_option& aside : ASIDE_OPTIONS) {
        size_t length = strlen(aside.word);
        bool prefix = aside.word[length - 1] == ':' || strcmp(aside.word, "-Xrun") == 0;
        if (prefix ? strncmp(option, aside.word, length) == 0 : option_is(option, aside.word))
            return aside.why;
    }
    return nullptr;
}

int split_vm_options_variable(const char* text, char* buffer, size_t capacity, const char** options, int most)
{
    if (strlen(text) >= capacity)
        return -2;
    int count = 0;
    char* write = buffer;
    const char* read = text;
    for (;;) {
        while (*read != '\0' && isspace(static_cast<unsigned char>(*read)))
            ++read;
        if (*read == '\0')
            return count;
        if (count == most)
            return -2;
        options[count++] = write;
        while (*read != '\0' && !isspace(static_cast<unsigned char>(*read))) {
            if (*read != '\'' && *read != '"') {
                *write++ = *read++;
                continue;
            }
            // Everything up to the matching quote, blanks included; the
            // quotes themselves are dropped.
            const char* end = strchr(read + 1, *read);
            if (end == nullptr)
                return -1;
            memcpy(write, read + 1, static_cast<size_t>(end - read - 1));
            write += end - read - 1;
            read = end + 1;
        }
        *write++ = '\0';
    }
}
