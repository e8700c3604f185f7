#include "platform/os_process.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <cstdint>
#include <cstdlib>

const char OS_PATH_SEPARATOR = '\\';
const char OS_CLASS_PATH_SEPARATOR = ';';

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
    DWORD length = GetModuleFileNameA(nullptr, buffer, capacity);
    // A path that does not fit is cut to the room, and the whole room used.
    if (capacity > 0 && length >= capacity) {
        buffer[0] = '\0';
        return -1;
    }
    return static_cast<int>(length);
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

// Shared for deleting too, which the C runtime's own opening cannot do: a
// later run renames the file even while another program reads it.
static FILE* open_shared_text(const char* path, bool append)
{
    HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, append ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return nullptr;
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_TEXT | (append ? _O_APPEND : 0));
    if (fd < 0) {
        CloseHandle(file);
        return nullptr;
    }
    FILE* stream = _fdopen(fd, append ? "a" : "w");
    if (stream == nullptr)
        _close(fd);
    return stream;
}

FILE* os_open_text_for_writing(const char* path)
{
    return open_shared_text(path, false);
}

FILE* os_open_text_for_appending(const char* path)
{
    return open_shared_text(path, true);
}

int os_local_time(time_t when, struct tm* result)
{
    return localtime_s(result, &when) == 0 ? 0 : -1;
}
