#include "instance/instance.h"

#include <cstdio>
#include <cstring>

const char* instance_name_fault(const char* name)
{
    // Either would make the instance folder the work folder or the base.
    if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0)
        return "'.' and '..' name no folder of their own";
    for (const char* at = name; *at != '\0'; ++at) {
        if (is_control_character(*at))
            return "it holds a control character";
        // A quote would break the service's command line apart; the others
        // lead into other folders or are not allowed in file names.
        if (strchr("\\/:*?\"<>|", *at) != nullptr)
            return "it holds one of \\ / : * ? \" < > |";
    }
    // Windows drops a trailing blank or dot from a folder's name.
    char last = name[strlen(name) - 1];
    if (last == ' ' || last == '.')
        return "it ends with a blank or a dot";
    return nullptr;
}

int check_instance_name(const char* name)
{
    const char* fault = instance_name_fault(name);
    if (fault == nullptr)
        return 0;
    char shown[LONG_TEXT_CAPACITY];
    escape_control_characters(shown, sizeof shown, name);
    printf("Invalid instance name '%s': %s\n", shown, fault);
    return -1;
}
