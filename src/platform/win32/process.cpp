#include "platform/os_process.h"

#include <windows.h>
#include <share.h>
#include <cstdlib>

const char OS_PATH_SEPARATOR = '\\';
const char OS_CLASS_PATH_SEPARATOR = ';';

// Windows looks for the VM's DLLs and the drivers' native libraries along
// PATH: it holds exactly the Java home's bin and bin\server and jdbc\dll.
const os_search_variable OS_SEARCH_VARIABLES[OS_SEARCH_VARIABLE_LIMIT + 1] = {
    {"PATH", false,
     {{OS_BELOW_JAVA_HOME, "bin"}, {OS_BELOW_JAVA_HOME, "bin\\server"}, {OS_BELOW_BASE, "jdbc\\dll"}, {}}},
    {},
};

void os_process_init()
{
    // msvcrt buffers standard output when it is a file or a pipe; the
    // console text and the log lines must reach it at once.
    setvbuf(stdout, nullptr, _IONBF, 0);
    // An empty DLL directory removes the current directory (the instance
    // folder, which the application writes to) from the library search.
    SetDllDirectoryA("");
}

unsigned long os_last_error()
{
    return GetLastError();
}

int os_module_path(char* buffer, unsigned capacity)
{
    return static_cast<int>(GetModuleFileNameA(nullptr, buffer, capacity));
}

bool os_path_is_absolute(const char* path)
{
    bool drive = ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) &&
                 path[1] == ':' && (path[2] == '\\' || path[2] == '/');
    bool network = (path[0] == '\\' || path[0] == '/') && (path[1] == '\\' || path[1] == '/');
    return drive || network;
}

void os_use_native_separators(char* path)
{
    for (; *path != '\0'; ++path) {
        if (*path == '/')
            *path = '\\';
    }
}

int os_set_current_dir(const char* path)
{
    return SetCurrentDirectoryA(path) ? 0 : -1;
}

const char* os_getenv(const char* name)
{
    return getenv(name);
}

int os_setenv(const char* name, const char* value)
{
    return SetEnvironmentVariableA(name, value) ? 0 : -1;
}

FILE* os_open_text_for_writing(const char* path)
{
    return _fsopen(path, "w", _SH_DENYNO);
}

int os_local_time(time_t when, struct tm* result)
{
    return localtime_s(result, &when) == 0 ? 0 : -1;
}
