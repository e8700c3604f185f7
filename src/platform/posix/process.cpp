#include "platform/os_process.h"

#include <cerrno>
#include <cstdlib>
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
    ssize_t length = readlink("/proc/self/exe", buffer, capacity);
    if (length <= 0)
        return 0;
    // The link's text is cut to the room without a word: a text that fills
    // it may be cut, and leaves no room for the terminator anyway.
    if (static_cast<size_t>(length) >= capacity) {
        buffer[0] = '\0';
        return -1;
    }
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

FILE* os_open_text_for_appending(const char* path)
{
    return fopen(path, "a");
}

int os_local_time(time_t when, struct tm* result)
{
    return localtime_r(&when, result) != nullptr ? 0 : -1;
}
