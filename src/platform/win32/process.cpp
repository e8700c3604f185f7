#include "platform/os_process.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <cstdint>
#include <cstdlib>
#include <cstring>

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

// Opens the file for reading, letting others read, write and delete it.
// INVALID_HANDLE_VALUE on failure, with *failed_call naming the call.
static HANDLE open_for_reading(const char* path, const char** failed_call)
{
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    if (strlen(path) < MAX_PATH || path[1] != ':') {
        *failed_call = "CreateFileA";
        return CreateFileA(path, GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    // The ANSI call stops at MAX_PATH; the wide one with a "\\?\" path does
    // not, and a file below an instance folder near that limit may be longer.
    wchar_t wide[4 + 1024] = L"\\\\?\\";
    *failed_call = "MultiByteToWideChar";
    if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path, -1, wide + 4, 1024) == 0)
        return INVALID_HANDLE_VALUE;
    *failed_call = "CreateFileW";
    return CreateFileW(wide, GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

int os_read_file(const char* path, char* buffer, size_t capacity, size_t* length, const char** failed_call)
{
    *length = 0;
    HANDLE file = open_for_reading(path, failed_call);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        return (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) ? 1 : -1;
    }
    while (*length < capacity) {
        size_t room = capacity - *length;
        DWORD got = 0;
        if (!ReadFile(file, buffer + *length, room > 0x40000000 ? 0x40000000 : static_cast<DWORD>(room), &got,
                      nullptr)) {
            DWORD error = GetLastError();
            CloseHandle(file);
            SetLastError(error);
            *failed_call = "ReadFile";
            return -1;
        }
        if (got == 0)
            break;
        *length += got;
    }
    CloseHandle(file);
    return 0;
}

int os_local_time(time_t when, struct tm* result)
{
    return localtime_s(result, &when) == 0 ? 0 : -1;
}
