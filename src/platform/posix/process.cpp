#include "platform/os_process.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

const char OS_PATH_SEPARATOR = '/';
const char OS_CLASS_PATH_SEPARATOR = ':';

void os_process_init()
{
    setvbuf(stdout, nullptr, _IONBF, 0);
}

unsigned long os_last_error()
{
    return static_cast<unsigned long>(errno);
}

int os_module_path(char* buffer, unsigned capacity)
{
    if (capacity == 0)
        return 0;
    ssize_t length = readlink("/proc/self/exe", buffer, capacity - 1);
    if (length <= 0)
        return 0;
    buffer[length] = '\0';
    return static_cast<int>(length);
}

bool os_path_is_absolute(const char* path)
{
    return path[0] == '/';
}

void os_use_native_separators(char*) {}

int os_set_current_dir(const char* path)
{
    return chdir(path) == 0 ? 0 : -1;
}

const char* os_getenv(const char* name)
{
    return getenv(name);
}

int os_setenv(const char* name, const char* value)
{
    return setenv(name, value, 1) == 0 ? 0 : -1;
}

FILE* os_open_text_for_writing(const char* path)
{
    return fopen(path, "w");
}

int os_read_file(const char* path, char* buffer, size_t capacity, size_t* length, const char** failed_call)
{
    *length = 0;
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *failed_call = "open";
        return (errno == ENOENT || errno == ENOTDIR) ? 1 : -1;
    }
    while (*length < capacity) {
        ssize_t got = read(fd, buffer + *length, capacity - *length);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            int error = errno;
            close(fd);
            errno = error;
            *failed_call = "read";
            return -1;
        }
        if (got == 0)
            break;
        *length += static_cast<size_t>(got);
    }
    close(fd);
    return 0;
}

int os_local_time(time_t when, struct tm* result)
{
    return localtime_r(&when, result) != nullptr ? 0 : -1;
}
