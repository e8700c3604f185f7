#include "platform/os_dir.h"

#include <windows.h>
#include <cerrno>
#include <cstring>
#include <cwchar>
#include <new>

#include "platform/os_errors.h"
#include "platform/win32/ansi_text.h"

enum { MAX_LISTED_PATH = 255, MAX_NAME = 255 };

struct os_dir {
    HANDLE search;
    WIN32_FIND_DATAW entry;
    bool first_pending;                       // the search's start already delivered the first entry
    wchar_t entry_path[MAX_LISTED_PATH + 1 + MAX_NAME + 1]; // the folder, '\', the entry's name
    size_t folder_length;                     // up to and including the '\'
    char name[2 * MAX_NAME + 2];              // the entry's name in the ANSI code page
};

os_dir* os_dir_open(const char* path, int* error)
{
    size_t length = strlen(path);
    if (length == 0 || length > MAX_LISTED_PATH) {
        *error = ENOENT;
        return nullptr;
    }
    os_dir* dir = new (std::nothrow) os_dir();
    if (dir == nullptr) {
        *error = ENOMEM;
        return nullptr;
    }
    int wide_length = MultiByteToWideChar(CP_ACP, 0, path, -1, dir->entry_path, MAX_LISTED_PATH + 1);
    DWORD attributes = wide_length > 0 ? GetFileAttributesW(dir->entry_path) : INVALID_FILE_ATTRIBUTES;
    *error = attributes == INVALID_FILE_ATTRIBUTES ? os_error_number(GetLastError()) : ENOENT;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 || attributes == INVALID_FILE_ATTRIBUTES) {
        delete dir;
        return nullptr;
    }
    size_t folder_length = static_cast<size_t>(wide_length - 1);
    wchar_t last = dir->entry_path[folder_length - 1];
    if (last != L'\\' && last != L'/')
        dir->entry_path[folder_length++] = L'\\';
    dir->folder_length = folder_length;
    wchar_t pattern[MAX_LISTED_PATH + sizeof "\\*.*"];
    wmemcpy(pattern, dir->entry_path, folder_length);
    wcscpy(pattern + folder_length, L"*.*");
    dir->search = FindFirstFileW(pattern, &dir->entry);
    if (dir->search == INVALID_HANDLE_VALUE) {
        *error = os_error_number(GetLastError());
        delete dir;
        return nullptr;
    }
    dir->first_pending = true;
    return dir;
}

// A link that is not a directory leads to a file only when that file opens:
// a dangling one is no file to read.
static os_entry_type link_type(os_dir* dir)
{
    wcscpy(dir->entry_path + dir->folder_length, dir->entry.cFileName);
    HANDLE target = CreateFileW(dir->entry_path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (target == INVALID_HANDLE_VALUE)
        return OS_ENTRY_OTHER;
    CloseHandle(target);
    return OS_ENTRY_REPARSE_POINT;
}

const char* os_dir_next(os_dir* dir, os_entry_type* type)
{
    if (!dir->first_pending && !FindNextFileW(dir->search, &dir->entry))
        return nullptr;
    dir->first_pending = false;
    bool exact = true;
    narrow_from_wide(dir->entry.cFileName, dir->name, sizeof dir->name, &exact);
    DWORD attributes = dir->entry.dwFileAttributes;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        *type = OS_ENTRY_DIRECTORY;
    else if (!exact)
        *type = OS_ENTRY_INEXACT_NAME;
    else if (attributes & FILE_ATTRIBUTE_DEVICE)
        *type = OS_ENTRY_OTHER;
    else if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        *type = link_type(dir);
    else
        *type = OS_ENTRY_FILE;
    return dir->name;
}

void os_dir_close(os_dir* dir)
{
    FindClose(dir->search);
    delete dir;
}
