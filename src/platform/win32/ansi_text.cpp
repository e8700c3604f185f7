#include "platform/win32/ansi_text.h"

#include "platform/os_process.h"

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
