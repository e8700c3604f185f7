#include "platform/os_dir.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <new>
#include <sys/stat.h>

enum { MAX_LISTED_PATH = 255, MAX_NAME = 255 };

struct os_dir {
    DIR* stream;
    char entry_path[MAX_LISTED_PATH + 1 + MAX_NAME + 1]; // the folder, '/', the entry's name
    size_t folder_length;                                 // up to and including the '/'
};

os_dir* os_dir_open(const char* path, int* error)
{
    size_t length = strlen(path);
    if (length == 0 || length > MAX_LISTED_PATH) {
        *error = ENOENT;
        return nullptr;
    }
    struct stat info;
    if (stat(path, &info) != 0) {
        *error = errno;
        return nullptr;
    }
    if (!S_ISDIR(info.st_mode)) {
        *error = ENOENT;
        return nullptr;
    }
    os_dir* dir = new (std::nothrow) os_dir();
    if (dir == nullptr) {
        *error = ENOMEM;
        return nullptr;
    }
    dir->stream = opendir(path);
    if (dir->stream == nullptr) {
        *error = errno;
        delete dir;
        return nullptr;
    }
    memcpy(dir->entry_path, path, length);
    dir->entry_path[length] = '/';
    dir->folder_length = length + 1;
    return dir;
}

// The type of what the mode describes, a link's target for a link.
static os_entry_type target_type(mode_t mode, bool link)
{
    if (S_ISDIR(mode))
        return OS_ENTRY_DIRECTORY;
    if (S_ISREG(mode))
        return link ? OS_ENTRY_REPARSE_POINT : OS_ENTRY_FILE;
    return OS_ENTRY_OTHER;
}

// A link counts as a directory when it leads to one, as the counterpart of a
// reparse point when it leads to a file; a link that leads nowhere, like an
// entry that is gone, is no file.
static os_entry_type entry_type(const char* path)
{
    struct stat info;
    if (lstat(path, &info) != 0)
        return OS_ENTRY_OTHER;
    if (!S_ISLNK(info.st_mode))
        return target_type(info.st_mode, false);
    return stat(path, &info) == 0 ? target_type(info.st_mode, true) : OS_ENTRY_OTHER;
}

const char* os_dir_next(os_dir* dir, os_entry_type* type)
{
    struct dirent* entry = readdir(dir->stream);
    if (entry == nullptr)
        return nullptr;
    size_t length = strnlen(entry->d_name, MAX_NAME);
    memcpy(dir->entry_path + dir->folder_length, entry->d_name, length);
    dir->entry_path[dir->folder_length + length] = '\0';
    *type = entry_type(dir->entry_path);
    return entry->d_name;
}

void os_dir_close(os_dir* dir)
{
    closedir(dir->stream);
    delete dir;
}
