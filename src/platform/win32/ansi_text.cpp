#include "platform/win32/ansi_text.h"

#include "platform/os_process.h"

#include <cstring>

int narrow_from_wide(const wchar_t* wide, char* buffer, int capacity, bool* exact)
{
    BOOL used_default = FALSE;
    // Without WC_NO_BEST_FIT_CHARS, fullwidth letters become their ASCII
    // look-alikes and a Greek capital omega an O.
    int written = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, buffer, capacity, nullptr, &used_default);
    if (written == 0) {
        if (capacity > 0)
            buffer[0] = '\0';
        return -1;
    }
    *exact = used_default == FALSE;
    return 0;
}

char* new_narrow_from_wide(const wchar_t* wide, bool* exact)
{
    *exact = true;
    int room = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, nullptr, 0, nullptr, nullptr);
    char* narrow = new char[room > 0 ? room : 1]();
    if (room > 0)
        narrow_from_wide(wide, narrow, room, exact);
    return narrow;
}

unsigned os_text_code_page()
{
    return GetACP();
}

os_text_conversion os_code_page_from_utf8(char* text, size_t* length, os_error* error)
{
    int count = static_cast<int>(*length);
    int wide_length = count == 0 ? 0 : MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, count, nullptr, 0);
    if (count > 0 && wide_length == 0) {
        *error = os_failed("MultiByteToWideChar");
        return OS_TEXT_FAILED;
    }
    wchar_t* wide = new wchar_t[wide_length + 1];
    if (wide_length > 0)
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, count, wide, wide_length);
    wide[wide_length] = L'\0';
    // A character of the code page takes no more bytes than its UTF-8 form.
    char* narrow = new char[*length + 1];
    bool exact = true;
    os_text_conversion result = OS_TEXT_FAILED;
    if (narrow_from_wide(wide, narrow, count + 1, &exact) != 0) {
        *error = os_failed("WideCharToMultiByte");
    } else {
        *length = strlen(narrow);
        memcpy(text, narrow, *length);
        result = exact ? OS_TEXT_EXACT : OS_TEXT_INEXACT;
    }
    delete[] narrow;
    delete[] wide;
    return result;
}
