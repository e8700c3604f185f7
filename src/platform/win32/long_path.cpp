#include "platform/win32/long_path.h"

#include <cstring>
#include <cwchar>

HANDLE create_file_any_length(const char* path, DWORD access, DWORD sharing, DWORD disposition,
                              const char** failed_call)
{
    if (strlen(path) < MAX_PATH) {
        *failed_call = "CreateFileA";
        return CreateFileA(path, access, sharing, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    bool network = path[0] == '\\' && path[1] == '\\';
    const wchar_t* prefix = network ? L"\\\\?\\UNC" : L"\\\\?\\";
    const char* rest = network ? path + 1 : path;
    wchar_t wide[4 * MAX_PATH];
    size_t at = wcslen(prefix);
    wcscpy(wide, prefix);
    *failed_call = "MultiByteToWideChar";
    if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, rest, -1, wide + at, static_cast<int>(4 * MAX_PATH - at)) == 0)
        return INVALID_HANDLE_VALUE;
    *failed_call = "CreateFileW";
    return CreateFileW(wide, access, sharing, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}
