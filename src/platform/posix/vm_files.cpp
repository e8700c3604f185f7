#include "platform/os_vm_files.h"

#include "platform/posix/stamp.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

// The VM is given /proc/self/fd/N: the kernel resolves it to the file or
// folder the descriptor holds, whatever name it has by then, and a link
// put in the instance folder meanwhile is never reached.
static void name_descriptor(int fd, char* vm_path, size_t capacity)
{
    snprintf(vm_path, capacity, "/proc/self/fd/%d", fd);
}

struct os_vm_file {
    int fd;
};

os_vm_file* os_hold_vm_file(const char* path, char* vm_path, size_t capacity, os_stamp* stamp,
                            os_file_result* result, os_error* error)
{
    int fd = open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *error = os_failed("open");
        *result = (errno == ENOENT || errno == ENOTDIR) ? OS_FILE_MISSING
                  : errno == ELOOP                      ? OS_FILE_NOT_REGULAR
                                                        : OS_FILE_FAILED;
        return nullptr;
    }
    struct stat status;
    if (fstat(fd, &status) != 0) {
        *error = os_failed("fstat");
        close(fd);
        *result = OS_FILE_FAILED;
        return nullptr;
    }
    os_stamp_from_status(status, stamp);
    if (!stamp->regular) {
        close(fd);
        *result = OS_FILE_NOT_REGULAR;
        return nullptr;
    }
    name_descriptor(fd, vm_path, capacity);
    *result = OS_FILE_DONE;
    return new os_vm_file{fd};
}

void os_release_vm_file(os_vm_file* file)
{
    if (file == nullptr)
        return;
    close(file->fd);
    delete file;
}

os_mapping os_file_is_mapped(const os_stamp& stamp)
{
    FILE* maps = fopen("/proc/self/maps", "re");
    if (maps == nullptr)
        return OS_MAPPING_UNKNOWN;
    // address perms offset major:minor inode path
    char line[4096 + 256];
    bool mapped = false;
    while (!mapped && fgets(line, sizeof line, maps) != nullptr) {
        unsigned major_number = 0, minor_number = 0;
        unsigned long long inode = 0;
        if (sscanf(line, "%*s %*s %*s %x:%x %llu", &major_number, &minor_number, &inode) == 3)
            mapped = inode == stamp.index && major_number == major(stamp.volume) &&
                     minor_number == minor(stamp.volume);
    }
    fclose(maps);
    return mapped ? OS_MAPPED : OS_NOT_MAPPED;
}

struct os_private_folder {
    int fd;
    char name[64];
};

os_private_folder* os_make_private_folder(const char* prefix, char* vm_folder, size_t capacity, os_error* error)
{
    os_private_folder folder;
    if (snprintf(folder.name, sizeof folder.name, "%sXXXXXX", prefix) >= static_cast<int>(sizeof folder.name)) {
        // The name mkdtemp would be given does not fit: its own error for it.
        *error = os_error{"mkdtemp", ENAMETOOLONG};
        return nullptr;
    }
    // Mode 0700: only the run's user may write it.
    if (mkdtemp(folder.name) == nullptr) {
        *error = os_failed("mkdtemp");
        return nullptr;
    }
    folder.fd = open(folder.name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folder.fd < 0) {
        *error = os_failed("open");
        rmdir(folder.name);
        return nullptr;
    }
    name_descriptor(folder.fd, vm_folder, capacity);
    return new os_private_folder(folder);
}

// Removes the files of the folder that fd holds, never following a link.
static void remove_files_in(int fd)
{
    int listed = dup(fd);
    DIR* dir = listed >= 0 ? fdopendir(listed) : nullptr;
    if (dir == nullptr) {
        if (listed >= 0)
            close(listed);
        return;
    }
    while (struct dirent* entry = readdir(dir))
        if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0)
            unlinkat(fd, entry->d_name, 0);
    closedir(dir);
}

void os_remove_private_folder(os_private_folder* folder)
{
    if (folder == nullptr)
        return;
    remove_files_in(folder->fd);
    close(folder->fd);
    // By name: a folder put in its place meanwhile goes only when empty.
    rmdir(folder->name);
    delete folder;
}

void os_remove_stale_private_folders(const char* prefix)
{
    DIR* current = opendir(".");
    if (current == nullptr)
        return;
    size_t prefix_length = strlen(prefix);
    while (struct dirent* entry = readdir(current)) {
        if (strncmp(entry->d_name, prefix, prefix_length) != 0)
            continue;
        int fd = open(entry->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0)
            continue;
        remove_files_in(fd);
        close(fd);
        rmdir(entry->d_name);
    }
    closedir(current);
}
