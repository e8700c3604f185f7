#include "platform/os_environment.h"
#include "platform/os_errors.h"
#include "platform/os_files.h"
#include "platform/os_paths.h"
#include "platform/os_process.h"
#include "platform/os_time.h"

#include "platform/win32/ansi_text.h"
#include "platform/win32/file_stamp.h"
#include "platform/win32/long_path.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

const char OS_PATH_SEPARATOR = '\\';
const char OS_LINE_END[] = "\r\n";
const char OS_CLASS_PATH_SEPARATOR = ';';

// Windows looks for the VM's DLLs and the drivers' native libraries along
// PATH: it holds exactly the Java home's bin and bin\server and jdbc\dll.
const os_search_variable OS_SEARCH_VARIABLES[OS_SEARCH_VARIABLE_LIMIT + 1] = {
    {"PATH", false,
     {{OS_BELOW_JAVA_HOME, "bin"}, {OS_BELOW_JAVA_HOME, "bin\\server"}, {OS_BELOW_BASE, "jdbc\\dll"}, {}}},
    {},
};

// PATH keeps nothing it inherited.
const char* os_search_default(const char*)
{
    return nullptr;
}

void os_process_init()
{
    // msvcrt buffers standard output when it is a file or a pipe; the
    // console text and the log lines must reach it at once.
    setvbuf(stdout, nullptr, _IONBF, 0);
    // A DLL directory takes the place of the current directory (the instance
    // folder, which the application writes to) in the library search. The
    // system folder, searched anyway, is the one given: Wine takes an empty
    // one, which Windows documents for the same, for none.
    wchar_t system_folder[MAX_PATH];
    UINT length = GetSystemDirectoryW(system_folder, MAX_PATH);
    SetDllDirectoryW(length > 0 && length < MAX_PATH ? system_folder : L"");
}

unsigned long os_last_error()
{
    return GetLastError();
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

enum { WIDE_PATH_MOST = 32767 };

int os_module_path(char* buffer, unsigned capacity)
{
    static wchar_t wide[WIDE_PATH_MOST + 1];
    DWORD length = GetModuleFileNameW(nullptr, wide, WIDE_PATH_MOST + 1);
    if (length == 0)
        return 0;
    // A path that does not fit is cut to the room, and the whole room used.
    bool exact = true;
    if (length > WIDE_PATH_MOST || narrow_from_wide(wide, buffer, static_cast<int>(capacity), &exact) != 0) {
        if (capacity > 0)
            buffer[0] = '\0';
        return -1;
    }
    return exact ? static_cast<int>(strlen(buffer)) : -2;
}

// The C runtime's own splitting of the wide command line, by the rules it
// splits the narrow one by: the arguments are the same, only not mapped.
struct startup_info {
    int new_mode;
};
extern "C" int __wgetmainargs(int* argc, wchar_t*** argv, wchar_t*** environment, int expand, startup_info* info);

// The arguments as the wide command line holds them, and whether each is
// held exactly; set once by the main thread before any other thread exists.
struct wide_arguments {
    char** narrow = nullptr;
    bool* exact = nullptr;
    int count = 0;
};
static wide_arguments g_arguments;

int os_arguments(int argc, char** argv, char*** arguments)
{
    *arguments = argv;
    int count = 0;
    wchar_t** wide = nullptr;
    wchar_t** environment = nullptr;
    startup_info info = {0};
    if (__wgetmainargs(&count, &wide, &environment, 0, &info) < 0 || wide == nullptr || count != argc)
        return argc;
    g_arguments.narrow = new char*[count + 1]();
    g_arguments.exact = new bool[count];
    for (int i = 0; i < count; ++i) {
        g_arguments.narrow[i] = new_narrow_from_wide(wide[i], &g_arguments.exact[i]);
    }
    g_arguments.count = count;
    *arguments = g_arguments.narrow;
    return count;
}

bool os_argument_is_exact(int index)
{
    return index >= g_arguments.count || g_arguments.exact == nullptr || g_arguments.exact[index];
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

bool os_getenv_is_exact(const char* name)
{
    wchar_t wide_name[256];
    if (MultiByteToWideChar(CP_ACP, 0, name, -1, wide_name, 256) == 0)
        return false;
    DWORD room = GetEnvironmentVariableW(wide_name, nullptr, 0);
    if (room == 0)
        return true;
    wchar_t* value = new wchar_t[room];
    bool exact = true;
    DWORD length = GetEnvironmentVariableW(wide_name, value, room);
    if (length > 0 && length < room)
        delete[] new_narrow_from_wide(value, &exact);
    delete[] value;
    return exact;
}

os_error os_setenv(const char* name, const char* value)
{
    return SetEnvironmentVariableA(name, value) ? os_error{} : os_failed("SetEnvironmentVariableA");
}

// Shared for deleting too, which the C runtime's own opening cannot do: a
// later run renames the file even while another program reads it.
static FILE* open_shared(const char* path, bool append, int mode)
{
    os_error ignored;
    HANDLE file = create_file_any_length(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         append ? OPEN_ALWAYS : CREATE_ALWAYS, &ignored);
    if (file == INVALID_HANDLE_VALUE)
        return nullptr;
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), mode | (append ? _O_APPEND : 0));
    if (fd < 0) {
        CloseHandle(file);
        return nullptr;
    }
    FILE* stream = _fdopen(fd, mode == _O_BINARY ? (append ? "ab" : "wb") : (append ? "a" : "w"));
    if (stream == nullptr)
        _close(fd);
    return stream;
}

FILE* os_open_text_for_writing(const char* path)
{
    return open_shared(path, false, _O_TEXT);
}

FILE* os_open_text_for_appending(const char* path)
{
    return open_shared(path, true, _O_TEXT);
}

FILE* os_open_bytes_for_writing(const char* path, bool append)
{
    return open_shared(path, append, _O_BINARY);
}

os_file_result missing_or_failed()
{
    DWORD error = GetLastError();
    return (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) ? OS_FILE_MISSING : OS_FILE_FAILED;
}

HANDLE open_for_stamp(const char* path, DWORD access, DWORD sharing, bool follow_link, os_error* error)
{
    DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (follow_link ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    return create_file_any_length(path, access, sharing, OPEN_EXISTING, error, flags);
}

os_file_result stamp_of_handle(HANDLE file, os_stamp* stamp, os_error* error)
{
    BY_HANDLE_FILE_INFORMATION information;
    FILE_BASIC_INFO basic;
    if (!GetFileInformationByHandle(file, &information)) {
        *error = os_failed("GetFileInformationByHandle");
        return OS_FILE_FAILED;
    }
    if (!GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic)) {
        *error = os_failed("GetFileInformationByHandleEx");
        return OS_FILE_FAILED;
    }
    stamp->size = (static_cast<unsigned long long>(information.nFileSizeHigh) << 32) | information.nFileSizeLow;
    stamp->modified = (static_cast<unsigned long long>(information.ftLastWriteTime.dwHighDateTime) << 32) |
                      information.ftLastWriteTime.dwLowDateTime;
    stamp->changed = static_cast<unsigned long long>(basic.ChangeTime.QuadPart);
    stamp->volume = information.dwVolumeSerialNumber;
    stamp->index = (static_cast<unsigned long long>(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
    DWORD not_regular = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE;
    stamp->regular = (information.dwFileAttributes & not_regular) == 0 && GetFileType(file) == FILE_TYPE_DISK;
    return OS_FILE_DONE;
}

os_file_result os_read_file(const char* path, char* buffer, size_t capacity, size_t* length, os_error* error)
{
    *length = 0;
    // Others may read, write and delete it meanwhile.
    HANDLE file = create_file_any_length(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         OPEN_EXISTING, error);
    if (file == INVALID_HANDLE_VALUE) {
        return missing_or_failed();
    }
    while (*length < capacity) {
        size_t room = capacity - *length;
        DWORD got = 0;
        if (!ReadFile(file, buffer + *length, room > 0x40000000 ? 0x40000000 : static_cast<DWORD>(room), &got,
                      nullptr)) {
            *error = os_failed("ReadFile");
            CloseHandle(file);
            return OS_FILE_FAILED;
        }
        if (got == 0)
            break;
        *length += got;
    }
    CloseHandle(file);
    return OS_FILE_DONE;
}

os_file_result os_replace_file(const char* from, const char* to, os_error* error)
{
    wchar_t wide_from[WIDE_LONG_PATH_CAPACITY];
    wchar_t wide_to[WIDE_LONG_PATH_CAPACITY];
    if (wide_any_length(from, wide_from, WIDE_LONG_PATH_CAPACITY) != 0 ||
        wide_any_length(to, wide_to, WIDE_LONG_PATH_CAPACITY) != 0) {
        *error = os_failed("MultiByteToWideChar");
        return OS_FILE_FAILED;
    }
    // A read-only file is not replaced: the VM writes its class archive
    // read-only, and the next one must take its place.
    SetFileAttributesW(wide_to, FILE_ATTRIBUTE_NORMAL);
    if (MoveFileExW(wide_from, wide_to, MOVEFILE_REPLACE_EXISTING))
        return OS_FILE_DONE;
    *error = os_failed("MoveFileExW");
    return missing_or_failed();
}

os_file_result os_file_stamp(const char* path, bool follow_link, os_stamp* stamp, os_error* error)
{
    // Opened for no access: only its attributes are read, whoever holds it;
    // a folder opens too, to be told apart.
    HANDLE file = open_for_stamp(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, follow_link,
                                 error);
    if (file == INVALID_HANDLE_VALUE)
        return missing_or_failed();
    os_file_result result = stamp_of_handle(file, stamp, error);
    CloseHandle(file);
    return result;
}

os_file_result os_free_space(const char* path, unsigned long long* bytes, os_error* error)
{
    wchar_t wide[WIDE_LONG_PATH_CAPACITY];
    if (wide_any_length(path, wide, WIDE_LONG_PATH_CAPACITY) != 0) {
        *error = os_failed("MultiByteToWideChar");
        return OS_FILE_FAILED;
    }
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExW(wide, &available, nullptr, nullptr)) {
        *error = os_failed("GetDiskFreeSpaceExW");
        return OS_FILE_FAILED;
    }
    *bytes = available.QuadPart;
    return OS_FILE_DONE;
}

os_file_result os_remove_file(const char* path, os_error* error)
{
    wchar_t wide[WIDE_LONG_PATH_CAPACITY];
    if (wide_any_length(path, wide, WIDE_LONG_PATH_CAPACITY) != 0) {
        *error = os_failed("MultiByteToWideChar");
        return OS_FILE_FAILED;
    }
    // Read-only (as the VM writes a class archive), it would stay.
    SetFileAttributesW(wide, FILE_ATTRIBUTE_NORMAL);
    if (DeleteFileW(wide))
        return OS_FILE_DONE;
    *error = os_failed("DeleteFileW");
    return missing_or_failed();
}

int os_local_time(time_t when, struct tm* result)
{
    return localtime_s(result, &when) == 0 ? 0 : -1;
}
