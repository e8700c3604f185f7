#include "platform/os_console.h"

#include "platform/os_errors.h"

#include <windows.h>
#include <atomic>
#include <fcntl.h>
#include <io.h>
#include <cstdio>

// The reading end of the capture's pipe, and the events of its reads and of
// the wake-up. Set by os_capture_std_streams, then used by the reading
// thread; the wake-up event by any thread.
static HANDLE g_capture_read = INVALID_HANDLE_VALUE;
static HANDLE g_read_done = nullptr;
static HANDLE g_wake_reader = nullptr;
// Set with the wake-up event: looked at without a call into the system.
static std::atomic<bool> g_reader_woken{false};

// Closes the reading end and the events of a capture that did not begin.
static void drop_capture_pipe()
{
    if (g_capture_read != INVALID_HANDLE_VALUE)
        CloseHandle(g_capture_read);
    if (g_read_done != nullptr)
        CloseHandle(g_read_done);
    if (g_wake_reader != nullptr)
        CloseHandle(g_wake_reader);
    g_capture_read = INVALID_HANDLE_VALUE;
    g_read_done = g_wake_reader = nullptr;
}

// A pipe whose reading end is overlapped, so that a wait for its bytes can
// be ended by the wake-up event; the writing end is an ordinary handle, for
// the C runtimes' writes. Named after the process and the time, it is made
// anew (never joined) and takes no clients from other machines. Returns the
// writing end, or INVALID_HANDLE_VALUE with *error naming the call that
// failed and its code.
static HANDLE create_capture_pipe(unsigned long buffer_bytes, os_error* error)
{
    wchar_t name[96];
    _snwprintf(name, 96, L"\\\\.\\pipe\\zrsvc-output-%lu-%lu", GetCurrentProcessId(), GetTickCount());
    g_capture_read = CreateNamedPipeW(name, PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                      PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1,
                                      0, buffer_bytes, 0, nullptr);
    if (g_capture_read == INVALID_HANDLE_VALUE) {
        *error = os_failed("CreateNamedPipeW");
        return INVALID_HANDLE_VALUE;
    }
    HANDLE write = CreateFileW(name, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (write == INVALID_HANDLE_VALUE) {
        *error = os_failed("CreateFileW");
    } else {
        g_read_done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        g_wake_reader = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (g_read_done != nullptr && g_wake_reader != nullptr)
            return write;
        *error = os_failed("CreateEventW");
        CloseHandle(write);
    }
    drop_capture_pipe();
    return INVALID_HANDLE_VALUE;
}

os_error os_capture_std_streams(unsigned long buffer_bytes)
{
    os_error error;
    HANDLE write = create_capture_pipe(buffer_bytes, &error);
    if (write == INVALID_HANDLE_VALUE)
        return error;
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(write), _O_TEXT);
    if (fd < 0) {
        CloseHandle(write);
        drop_capture_pipe();
        return os_error{"_open_osfhandle", ERROR_TOO_MANY_OPEN_FILES};
    }
    fflush(stdout);
    fflush(stderr);
    // Descriptors 1 and 2 and the process's standard handles, which the C
    // runtime of a library loaded later (the VM's) reads when it starts, all
    // lead into the pipe.
    // Standard output as it was, put back when standard error cannot follow
    // it: never left in a pipe that no one reads.
    int saved_output = _dup(1);
    bool moved = _dup2(fd, 1) == 0 && _dup2(fd, 2) == 0;
    _close(fd);
    if (!moved && saved_output >= 0)
        _dup2(saved_output, 1);
    if (saved_output >= 0)
        _close(saved_output);
    if (!moved) {
        drop_capture_pipe();
        return os_error{"_dup2", ERROR_INVALID_HANDLE};
    }
    SetStdHandle(STD_OUTPUT_HANDLE, reinterpret_cast<HANDLE>(_get_osfhandle(1)));
    SetStdHandle(STD_ERROR_HANDLE, reinterpret_cast<HANDLE>(_get_osfhandle(2)));
    // A process started without standard handles (a service) has its C
    // runtime's stdout and stderr on no descriptor (-2), and moving
    // descriptors 1 and 2 does not reach them (nor does freopen, which fails
    // on such a stream): they are put on their descriptors.
    if (_fileno(stdout) != 1)
        stdout->_file = 1;
    if (_fileno(stderr) != 2)
        stderr->_file = 2;
    // Buffered, as the C runtime buffers a stream on a pipe, in place of the
    // console's unbuffered standard output: the runtime under Wine writes an
    // unbuffered stream one byte a write, and a write into a pipe costs
    // there what a thousand bytes written at once do. Whoever needs a text
    // out at once flushes it (the VM's messages are).
    setvbuf(stdout, nullptr, _IOFBF, 4096);
    return {};
}

long os_read_captured_output(char* buffer, unsigned long capacity)
{
    for (;;) {
        if (g_reader_woken.load()) {
            DWORD available = 0;
            if (!PeekNamedPipe(g_capture_read, nullptr, 0, nullptr, &available, nullptr))
                return -1;
            if (available == 0)
                return 0;
            capacity = available < capacity ? available : capacity;
        }
        OVERLAPPED overlapped = {};
        overlapped.hEvent = g_read_done;
        DWORD got = 0;
        if (ReadFile(g_capture_read, buffer, capacity, &got, &overlapped)) {
            if (got > 0)
                return static_cast<long>(got);
            continue;
        }
        if (GetLastError() != ERROR_IO_PENDING)
            return -1;
        HANDLE events[] = {g_read_done, g_wake_reader};
        if (WaitForMultipleObjects(2, events, FALSE, INFINITE) != WAIT_OBJECT_0)
            CancelIo(g_capture_read);
        // A read that completed before the cancel keeps its bytes.
        if (!GetOverlappedResult(g_capture_read, &overlapped, &got, TRUE) && GetLastError() != ERROR_OPERATION_ABORTED)
            return -1;
        if (got > 0)
            return static_cast<long>(got);
    }
}

void os_wake_output_reader()
{
    g_reader_woken.store(true);
    SetEvent(g_wake_reader);
}

// Null in a service process, which only ignores the logoff event.
static void (*g_on_stop)() = nullptr;

static BOOL WINAPI console_event(DWORD event)
{
    if (g_on_stop == nullptr)
        return event == CTRL_LOGOFF_EVENT;
    if (event == CTRL_BREAK_EVENT)
        return FALSE;
    g_on_stop();
    if (event == CTRL_C_EVENT)
        return TRUE;
    // The console closes, the user logs off or the system shuts down: the
    // process is ended once this returns, so the stop road (stop(), the end
    // of start(), the VM's destruction, the log's close) is waited for here
    // until it ends the process, within the few seconds Windows gives.
    Sleep(INFINITE);
    return TRUE;
}

int os_watch_stop_requests(void (*on_stop)())
{
    g_on_stop = on_stop;
    return SetConsoleCtrlHandler(console_event, TRUE) ? 0 : -1;
}

// Threads start with nothing the application would miss.
void os_begin_application_thread() {}

// The handler registered last is asked first.
void os_put_stop_watch_first()
{
    SetConsoleCtrlHandler(console_event, FALSE);
    SetConsoleCtrlHandler(console_event, TRUE);
}

int os_ignore_logoff()
{
    SetConsoleCtrlHandler(console_event, FALSE);
    return SetConsoleCtrlHandler(console_event, TRUE) ? 0 : -1;
}
