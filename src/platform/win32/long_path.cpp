#include "platform/win32/long_path.h"

#include <cstring>
#include <cwchar>

int wide_any_length(const char* path, wchar_t* wide, int capacity)
{
    const wchar_t* prefix = L"";
    const char* rest = path;
    if (strlen(path) >= MAX_PATH) {
        bool network = path[0] == '\\' && path[1] == '\\';
        prefix = network ? L"\\\\?\\UNC" : L"\\\\?\\";
        rest = network ? path + 1 : path;
    }
    int at = static_cast<int>(wcslen(prefix));
    wcscpy(wide, prefix);
    return MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, rest, -1, wide + at, capacity - at) == 0 ? -1 : 0;
}

HANDLE create_file_any_length(const char* path, DWORD access, DWORD sharing, DWORD disposition, os_error* error,
                              DWORD flags)
{
    wchar_t wide[WIDE_LONG_PATH_CAPACITY];
    if (wide_any_length(path, wide, WIDE_LONG_PATH_CAPACITY) != 0) {
        *error = os_failed("MultiByteToWideChar");
        return INVALID_HANDLE_VALUE;
    }
    HANDLE file = CreateFileW(wide, access, sharing, nullptr, disposition, flags, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        *error = os_failed("CreateFileW");
    return file;
}
