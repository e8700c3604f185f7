#include "instance/instance.h"

#include "log/log.h"

#include "text/bounded_text.h"

#include <cstdio>
#include <cstring>

// The names Windows gives its devices in every folder: a file name whose part
// before the first dot is one of them, in any case and with blanks behind it,
// opens the device instead ("con.txt", "NUL "). COM and LPT take a digit from
// 1 to 9 or a superscript 1, 2 or 3 (bytes of the ANSI code page 1252).
static const char* const DEVICE_NAMES[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
static const char* const NUMBERED_DEVICES[] = {"COM", "LPT"};

static bool is_device_number(const char* text, size_t length)
{
    if (length != 1)
        return false;
    unsigned char c = static_cast<unsigned char>(text[0]);
    return (c >= '1' && c <= '9') || c == 0xB9 || c == 0xB2 || c == 0xB3;
}

static bool names_a_device(const char* name)
{
    size_t stem = strcspn(name, ".");
    while (stem > 0 && name[stem - 1] == ' ')
        --stem;
    char upper[8];
    if (stem >= sizeof upper)
        return false;
    for (size_t i = 0; i < stem; ++i)
        upper[i] = (name[i] >= 'a' && name[i] <= 'z') ? static_cast<char>(name[i] - 'a' + 'A') : name[i];
    upper[stem] = '\0';
    for (const char* device : DEVICE_NAMES)
        if (strcmp(upper, device) == 0)
            return true;
    for (const char* device : NUMBERED_DEVICES)
        if (stem > 3 && strncmp(upper, device, 3) == 0 && is_device_number(upper + 3, stem - 3))
            return true;
    return false;
}

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
    if (names_a_device(name))
        return "Windows names a device so (CON, PRN, AUX, NUL, COM1 to COM9, LPT1 to LPT9, CONIN$, CONOUT$)";
    return nullptr;
}

run_failure check_instance_name(const char* name)
{
    const char* fault = instance_name_fault(name);
    if (fault == nullptr)
        return {};
    char shown[LONG_TEXT_CAPACITY];
    escape_control_characters(shown, sizeof shown, name);
    run_failure refused = fail_on_console("Invalid instance name '");
    refused.reason = refused.reason + shown + "': " + fault;
    return refused;
}
