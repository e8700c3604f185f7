#include "platform/os_dir.h"

#include <windows.h>
#include <cerrno>
#include <cstring>
#include <new>

#include "platform/os_process.h"

struct os_dir {
    HANDLE search;
    WIN32_FIND_DATAA entry;
    bool first_pending; // the search's start already delivered the first entry
};

enum { MAX_LISTED_PATH = 255 };

os_dir* os_dir_open(const char* path, int* error)
{
    size_t length = strlen(path);
    if (length == 0 || length > MAX_LISTED_PATH) {
        *error = ENOENT;
        return nullptr;
    }
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        *error = os_error_number(GetLastError());
        return nullptr;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        *error = ENOENT;
        return nullptr;
    }
    char pattern[MAX_LISTED_PATH + sizeof "\\*.*"];
    strcpy(pattern, path);
    char last = path[length - 1];
    strcat(pattern, last == '\\' || last == '/' ? "*.*" : "\\*.*");

    os_dir* dir = new (std::nothrow) os_dir();
    if (dir == nullptr) {
        *error = ENOMEM;
        return nullptr;
    }
    dir->search = FindFirstFileA(pattern, &dir->entry);
    if (dir->search == INVALID_HANDLE_VALUE) {
        *error = os_error_number(GetLastError());
        delete dir;
        return nullptr;
    }
    dir->first_pending = true;
    return dir;
}

const char* os_dir_next(os_dir* dir, os_entry_type* type)
{
    if (!dir->first_pending && !FindNextFileA(dir->search, &dir->entry))
        return nullptr;
    dir->first_pending = false;
    DWORD attributes = dir->entry.dwFileAttributes;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        *type = OS_ENTRY_DIRECTORY;
    else if (attributes & FILE_ATTRIBUTE_DEVICE)
        *type = OS_ENTRY_OTHER;
    else if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        *type = OS_ENTRY_REPARSE_POINT;
    else
        *type = OS_ENTRY_FILE;
    return dir->entry.cFileName;
}

void os_dir_close(os_dir* dir)
{
    FindClose(dir->search);
    delete dir;
}
