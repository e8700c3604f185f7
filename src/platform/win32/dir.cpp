#include "platform/os_dir.h"

#include <windows.h>
#include <cerrno>
#include <cstring>
#include <new>

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

struct error_mapping {
    unsigned long os_error;
    int number;
};

// The C runtime's own table, so that a message reads as the runtime's would.
static const error_mapping ERROR_NUMBERS[] = {
    {ERROR_INVALID_FUNCTION, EINVAL}, {ERROR_FILE_NOT_FOUND, ENOENT},
    {ERROR_PATH_NOT_FOUND, ENOENT}, {ERROR_TOO_MANY_OPEN_FILES, EMFILE},
    {ERROR_ACCESS_DENIED, EACCES}, {ERROR_INVALID_HANDLE, EBADF},
    {ERROR_ARENA_TRASHED, ENOMEM}, {ERROR_NOT_ENOUGH_MEMORY, ENOMEM},
    {ERROR_INVALID_BLOCK, ENOMEM}, {ERROR_BAD_ENVIRONMENT, E2BIG},
    {ERROR_BAD_FORMAT, ENOEXEC}, {ERROR_INVALID_ACCESS, EINVAL},
    {ERROR_INVALID_DATA, EINVAL}, {ERROR_INVALID_DRIVE, ENOENT},
    {ERROR_CURRENT_DIRECTORY, EACCES}, {ERROR_NOT_SAME_DEVICE, EXDEV},
    {ERROR_NO_MORE_FILES, ENOENT}, {ERROR_LOCK_VIOLATION, EACCES},
    {ERROR_BAD_NETPATH, ENOENT}, {ERROR_NETWORK_ACCESS_DENIED, EACCES},
    {ERROR_BAD_NET_NAME, ENOENT}, {ERROR_FILE_EXISTS, EEXIST},
    {ERROR_CANNOT_MAKE, EACCES}, {ERROR_FAIL_I24, EACCES},
    {ERROR_INVALID_PARAMETER, EINVAL}, {ERROR_NO_PROC_SLOTS, EAGAIN},
    {ERROR_DRIVE_LOCKED, EACCES}, {ERROR_BROKEN_PIPE, EPIPE},
    {ERROR_DISK_FULL, ENOSPC}, {ERROR_INVALID_TARGET_HANDLE, EBADF},
    {ERROR_WAIT_NO_CHILDREN, ECHILD}, {ERROR_CHILD_NOT_COMPLETE, ECHILD},
    {ERROR_DIRECT_ACCESS_HANDLE, EBADF}, {ERROR_NEGATIVE_SEEK, EINVAL},
    {ERROR_SEEK_ON_DEVICE, EACCES}, {ERROR_DIR_NOT_EMPTY, ENOTEMPTY},
    {ERROR_NOT_LOCKED, EACCES}, {ERROR_BAD_PATHNAME, ENOENT},
    {ERROR_MAX_THRDS_REACHED, EAGAIN}, {ERROR_LOCK_FAILED, EACCES},
    {ERROR_ALREADY_EXISTS, EEXIST}, {ERROR_FILENAME_EXCED_RANGE, ENOENT},
    {ERROR_NESTING_NOT_ALLOWED, EAGAIN}, {ERROR_NOT_ENOUGH_QUOTA, ENOMEM},
};

int os_error_number(unsigned long os_error)
{
    for (const error_mapping& m : ERROR_NUMBERS)
        if (m.os_error == os_error)
            return m.number;
    if (os_error >= ERROR_WRITE_PROTECT && os_error <= ERROR_SHARING_BUFFER_EXCEEDED)
        return EACCES;
    if (os_error >= ERROR_INVALID_STARTING_CODESEG && os_error <= ERROR_INFLOOP_IN_RELOC_CHAIN)
        return ENOEXEC;
    return EINVAL;
}
