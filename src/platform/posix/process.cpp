#include "platform/os_process.h"

#include <cerrno>
#include <cstdlib>
#include <unistd.h>

const char OS_PATH_SEPARATOR = '/';
const char OS_CLASS_PATH_SEPARATOR = ':';

// PATH only leads to programs here: the application keeps finding the
// system's, with the Java installation's tools first. The VM builds
// java.library.path from LD_LIBRARY_PATH as it is when the VM is created, so
// System.loadLibrary finds the drivers' native libraries in jdbc/dll.
const os_search_variable OS_SEARCH_VARIABLES[OS_SEARCH_VARIABLE_LIMIT + 1] = {
    {"PATH", true, {{OS_BELOW_JAVA_HOME, "bin"}, {}}},
    {"LD_LIBRARY_PATH", true, {{OS_BELOW_BASE, "jdbc/dll"}, {}}},
    {},
};

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

int os_local_time(time_t when, struct tm* result)
{
    return localtime_r(&when, result) != nullptr ? 0 : -1;
}
