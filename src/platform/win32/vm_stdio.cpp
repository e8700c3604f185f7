#include "platform/os_vm_stdio.h"

#include <windows.h>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <fcntl.h>

// The universal CRT has no vfprintf of its own (its headers make one of
// __stdio_common_vfprintf) and hands out its streams by number; msvcrt and
// its kin export vfprintf and their table of streams.
typedef FILE*(__cdecl* stream_by_number)(unsigned number);
typedef FILE*(__cdecl* stream_table)();
typedef int(__cdecl* common_vfprintf)(unsigned long long options, FILE* stream, const char* format, void* locale,
                                      va_list arguments);
typedef int(__cdecl* plain_vfprintf)(FILE* stream, const char* format, va_list arguments);
typedef int(__cdecl* stream_flush)(FILE* stream);
typedef int(__cdecl* descriptor_call)(int descriptor);
typedef int(__cdecl* descriptor_copy)(int from, int to);
typedef int(__cdecl* descriptor_of_handle)(intptr_t handle, int flags);
typedef int*(__cdecl* error_number)();
typedef intptr_t(__cdecl* handle_of_descriptor)(int descriptor);
typedef int(__cdecl* descriptor_of_stream)(FILE* stream);
typedef FILE*(__cdecl* stream_reopen)(const char* path, const char* mode, FILE* stream);

// The VM's C runtime as bound by os_bind_vm_stdio: set before the VM
// exists, only read afterwards (by the VM's threads).
struct vm_runtime {
    FILE* stdout_stream = nullptr;
    FILE* stderr_stream = nullptr;
    common_vfprintf common_vfprintf_call = nullptr;
    plain_vfprintf plain_vfprintf_call = nullptr;
    stream_flush flush = nullptr;
    // Its _dup, _close, _dup2, _open_osfhandle and _errno.
    descriptor_call dup = nullptr;
    descriptor_call close = nullptr;
    descriptor_copy dup2 = nullptr;
    descriptor_of_handle open_handle = nullptr;
    error_number errno_of = nullptr;
    // Its _get_osfhandle, _fileno and freopen.
    handle_of_descriptor handle_of = nullptr;
    descriptor_of_stream fileno_of = nullptr;
    stream_reopen freopen_call = nullptr;
};
static vm_runtime g_vm;

// The imports that give a runtime's standard streams: the universal CRT's,
// msvcrt's, and msvcrt's table as data.
static const char* const STREAM_IMPORTS[] = {"__acrt_iob_func", "__iob_func", "_iob"};

static bool is_stream_import(const char* name)
{
    for (const char* known : STREAM_IMPORTS)
        if (strcmp(name, known) == 0)
            return true;
    return false;
}

// The module that the library's import of a runtime's streams is bound to,
// whichever name (an API set such as api-ms-win-crt-stdio-l1-1-0.dll) the
// library imports it by. Null when it imports none.
static HMODULE stdio_runtime(HMODULE library)
{
    const BYTE* base = reinterpret_cast<const BYTE*>(library);
    const IMAGE_NT_HEADERS* headers =
        reinterpret_cast<const IMAGE_NT_HEADERS*>(base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory = headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (directory.VirtualAddress == 0)
        return nullptr;
    for (const IMAGE_IMPORT_DESCRIPTOR* imports =
             reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
         imports->Name != 0; ++imports) {
        if (imports->OriginalFirstThunk == 0)
            continue;
        const IMAGE_THUNK_DATA* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + imports->OriginalFirstThunk);
        const IMAGE_THUNK_DATA* bound = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + imports->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++bound) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            const IMAGE_IMPORT_BY_NAME* import =
                reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (!is_stream_import(reinterpret_cast<const char*>(import->Name)))
                continue;
            HMODULE runtime = nullptr;
            GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                               reinterpret_cast<LPCSTR>(bound->u1.Function), &runtime);
            return runtime;
        }
    }
    return nullptr;
}

template <typename T>
static T export_of(HMODULE module, const char* name)
{
    return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// After a failed descriptor call of the runtime's: its errno as a Windows
// error code.
static DWORD runtime_error()
{
    return *g_vm.errno_of() == EMFILE ? ERROR_TOO_MANY_OPEN_FILES : ERROR_INVALID_HANDLE;
}

// A runtime that started before the process's standard handles were put on
// their files has its descriptor and its stream on the old handle, or on
// none (-2): a service starts without standard handles, and under Wine the
// universal CRT starts with the process (Wine's own libraries use it). Puts
// both on the process's standard handle which, the capture of a service's
// output (zrsvc-stdout.txt) being made, this program's own runtime writes to.
// Returns true, or false with *error naming the call that failed (the
// runtime's own ones by their names) and its code.
static bool follow_standard_handle(int descriptor, DWORD which, FILE* stream, os_error* error)
{
    HANDLE handle = GetStdHandle(which);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE)
        return true;
    if (g_vm.handle_of(descriptor) != reinterpret_cast<intptr_t>(handle)) {
        HANDLE copy = nullptr;
        if (!DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &copy, 0, FALSE,
                             DUPLICATE_SAME_ACCESS)) {
            *error = os_failed("DuplicateHandle");
            return false;
        }
        int opened = g_vm.open_handle(reinterpret_cast<intptr_t>(copy), _O_TEXT);
        if (opened < 0) {
            *error = os_error{"_open_osfhandle", runtime_error()};
            CloseHandle(copy);
            return false;
        }
        int result = g_vm.dup2(opened, descriptor);
        if (result != 0)
            *error = os_error{"_dup2", runtime_error()};
        g_vm.close(opened);
        if (result != 0)
            return false;
    }
    // A stream on no descriptor cannot be moved onto one: reopened, as
    // documented for the universal CRT, it gets a descriptor of its own,
    // which is then put on the handle's. Wine's runtimes refuse to reopen
    // it; their streams are laid out as this program's msvcrt's, whose field
    // of the descriptor is set instead, as for this program's own streams
    // (os_capture_std_streams).
    if (g_vm.fileno_of(stream) == descriptor)
        return true;
    if (g_vm.freopen_call("NUL", "w", stream) != nullptr) {
        if (g_vm.dup2(descriptor, g_vm.fileno_of(stream)) == 0)
            return true;
        *error = os_error{"_dup2", runtime_error()};
        return false;
    }
    if (stream->_file == g_vm.fileno_of(stream)) {
        stream->_file = descriptor;
        if (g_vm.fileno_of(stream) == descriptor)
            return true;
    }
    *error = os_error{"freopen", runtime_error()};
    return false;
}

os_vm_stdio_binding os_bind_vm_stdio(void* vm_library, os_error* error, const char** missing)
{
    HMODULE runtime = stdio_runtime(static_cast<HMODULE>(vm_library));
    *missing = "its import of the C runtime's streams";
    if (runtime == nullptr)
        return OS_VM_STDIO_NOT_FOUND;
    FILE* table = nullptr;
    stream_by_number by_number = export_of<stream_by_number>(runtime, "__acrt_iob_func");
    stream_table table_function = export_of<stream_table>(runtime, "__iob_func");
    if (by_number == nullptr) {
        // A table of the runtime's FILE, the type this program's msvcrt has too.
        table = table_function != nullptr ? table_function() : export_of<FILE*>(runtime, "_iob");
        if (table == nullptr)
            return OS_VM_STDIO_NOT_FOUND;
    }
    *missing = "the C runtime's vfprintf or fflush";
    common_vfprintf common = export_of<common_vfprintf>(runtime, "__stdio_common_vfprintf");
    plain_vfprintf plain = export_of<plain_vfprintf>(runtime, "vfprintf");
    stream_flush flush = export_of<stream_flush>(runtime, "fflush");
    if ((common == nullptr && plain == nullptr) || flush == nullptr)
        return OS_VM_STDIO_NOT_FOUND;
    *missing = "the C runtime's _dup, _dup2, _open_osfhandle, _get_osfhandle, _close, _fileno, freopen or _errno";
    descriptor_call copy = export_of<descriptor_call>(runtime, "_dup");
    descriptor_call close_call = export_of<descriptor_call>(runtime, "_close");
    descriptor_copy copy_onto = export_of<descriptor_copy>(runtime, "_dup2");
    descriptor_of_handle open_handle = export_of<descriptor_of_handle>(runtime, "_open_osfhandle");
    handle_of_descriptor handle_of = export_of<handle_of_descriptor>(runtime, "_get_osfhandle");
    descriptor_of_stream fileno_of = export_of<descriptor_of_stream>(runtime, "_fileno");
    stream_reopen reopen = export_of<stream_reopen>(runtime, "freopen");
    error_number errno_of = export_of<error_number>(runtime, "_errno");
    if (copy == nullptr || close_call == nullptr || copy_onto == nullptr || open_handle == nullptr ||
        handle_of == nullptr || fileno_of == nullptr || reopen == nullptr || errno_of == nullptr)
        return OS_VM_STDIO_NOT_FOUND;
    g_vm.stdout_stream = by_number != nullptr ? by_number(1) : table + 1;
    g_vm.stderr_stream = by_number != nullptr ? by_number(2) : table + 2;
    g_vm.common_vfprintf_call = common;
    g_vm.plain_vfprintf_call = plain;
    g_vm.flush = flush;
    g_vm.dup = copy;
    g_vm.close = close_call;
    g_vm.dup2 = copy_onto;
    g_vm.open_handle = open_handle;
    g_vm.handle_of = handle_of;
    g_vm.fileno_of = fileno_of;
    g_vm.freopen_call = reopen;
    g_vm.errno_of = errno_of;
    bool followed = follow_standard_handle(1, STD_OUTPUT_HANDLE, g_vm.stdout_stream, error) &&
                    follow_standard_handle(2, STD_ERROR_HANDLE, g_vm.stderr_stream, error);
    return followed ? OS_VM_STDIO_BOUND : OS_VM_STDIO_APART;
}

os_vm_stream os_vm_stream_kind(FILE* stream)
{
    if (g_vm.flush == nullptr || stream == g_vm.stderr_stream)
        return OS_VM_STANDARD_ERROR;
    return stream == g_vm.stdout_stream ? OS_VM_STANDARD_OUTPUT : OS_VM_OTHER_STREAM;
}

int os_vm_vfprintf(FILE* stream, bool flush, const char* format, va_list arguments)
{
    if (g_vm.flush == nullptr) {
        int length = vfprintf(stderr, format, arguments);
        if (flush)
            fflush(stderr);
        return length;
    }
    // The universal CRT's options 0: its vfprintf's defaults.
    int length = g_vm.common_vfprintf_call != nullptr ? g_vm.common_vfprintf_call(0, stream, format, nullptr, arguments)
                                              : g_vm.plain_vfprintf_call(stream, format, arguments);
    if (flush)
        g_vm.flush(stream);
    return length;
}

// The capture's file, the runtime's descriptor that owns its handle, and the
// runtime's descriptor of standard error from before it; -1 without a
// capture. Used by the thread that creates the VM, and by the VM's hooks
// under their lock.
static HANDLE g_capture = INVALID_HANDLE_VALUE;
static int g_capture_descriptor = -1;
static int g_saved_error = -1;

// A new file in the temporary folder, as tmpfile() makes on POSIX: created,
// never opened where something already is, and deleted when its last handle
// closes (a crash included). Returns its handle, or INVALID_HANDLE_VALUE
// (GetLastError).
static HANDLE create_capture_file(os_error* error)
{
    wchar_t folder[MAX_PATH + 1];
    DWORD length = GetTempPathW(MAX_PATH + 1, folder);
    if (length == 0) {
        *error = os_failed("GetTempPathW");
        return INVALID_HANDLE_VALUE;
    }
    if (length > MAX_PATH) {
        *error = os_error{"GetTempPathW", ERROR_FILENAME_EXCED_RANGE};
        return INVALID_HANDLE_VALUE;
    }
    wchar_t path[MAX_PATH + 48];
    HANDLE file = INVALID_HANDLE_VALUE;
    for (unsigned attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
        _snwprintf(path, MAX_PATH + 48, L"%lszrsvc-%lu-%u.tmp", folder, GetCurrentProcessId(), attempt);
        file = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS)
            break;
    }
    if (file == INVALID_HANDLE_VALUE)
        *error = os_failed("CreateFileW");
    return file;
}

os_capture_start os_begin_std_error_capture(os_error* error)
{
    if (g_vm.flush == nullptr)
        return OS_CAPTURE_NONE;
    g_capture = create_capture_file(error);
    if (g_capture == INVALID_HANDLE_VALUE)
        return OS_CAPTURE_FAILED;
    // Binary: the text is read back as the runtime was given it.
    g_capture_descriptor = g_vm.open_handle(reinterpret_cast<intptr_t>(g_capture), _O_BINARY);
    if (g_capture_descriptor < 0) {
        *error = os_error{"_open_osfhandle", runtime_error()};
        CloseHandle(g_capture);
        g_capture = INVALID_HANDLE_VALUE;
        return OS_CAPTURE_FAILED;
    }
    g_vm.flush(g_vm.stderr_stream);
    g_saved_error = g_vm.dup(2);
    if (g_saved_error >= 0 && g_vm.dup2(g_capture_descriptor, 2) == 0)
        return OS_CAPTURE_BEGUN;
    *error = os_error{g_saved_error < 0 ? "_dup" : "_dup2", runtime_error()};
    if (g_saved_error >= 0)
        g_vm.close(g_saved_error);
    g_saved_error = -1;
    g_vm.close(g_capture_descriptor);
    g_capture_descriptor = -1;
    g_capture = INVALID_HANDLE_VALUE;
    return OS_CAPTURE_FAILED;
}

size_t os_read_std_error_capture(size_t offset, char* buffer, size_t capacity)
{
    buffer[0] = '\0';
    if (g_capture_descriptor < 0)
        return 0;
    if (g_saved_error >= 0)
        g_vm.flush(g_vm.stderr_stream);
    // From the offset, wherever the writes left the file's position.
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(static_cast<unsigned long long>(offset) >> 32);
    DWORD length = 0;
    if (!ReadFile(g_capture, buffer, static_cast<DWORD>(capacity - 1), &length, &at))
        length = 0;
    buffer[length] = '\0';
    return length;
}

void os_end_std_error_capture()
{
    if (g_saved_error < 0)
        return;
    g_vm.flush(g_vm.stderr_stream);
    g_vm.dup2(g_saved_error, 2);
    g_vm.close(g_saved_error);
    g_saved_error = -1;
}

void os_drop_std_error_capture()
{
    if (g_capture_descriptor >= 0)
        g_vm.close(g_capture_descriptor);
    g_capture_descriptor = -1;
    g_capture = INVALID_HANDLE_VALUE;
}
