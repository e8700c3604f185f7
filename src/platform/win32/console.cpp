#include "platform/os_console.h"

#include "platform/os_errors.h"
#include "platform/win32/long_path.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <cerrno>
#include <cstdio>

int os_redirect_std_streams(const char* path, bool append)
{
    // Shared for deleting too, as the log file is (os_open_text_for_writing).
    const char* failed_call = "";
    HANDLE file = create_file_any_length(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         append ? OPEN_ALWAYS : CREATE_ALWAYS, &failed_call);
    if (file == INVALID_HANDLE_VALUE)
        return os_error_number(GetLastError());
    // The VM's C runtime writes through the handle: its position starts at
    // the end.
    if (append)
        SetFilePointer(file, 0, nullptr, FILE_END);
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_TEXT);
    if (fd < 0) {
        int error = errno;
        CloseHandle(file);
        return error;
    }
    fflush(stdout);
    fflush(stderr);
    // Descriptors 1 and 2 and the process's standard handles, which the C
    // runtime of a library loaded later (the VM's) reads when it starts, all
    // share one open file, and with it one file position.
    int error = (_dup2(fd, 1) == 0 && _dup2(fd, 2) == 0) ? 0 : errno;
    _close(fd);
    if (error == 0) {
        SetStdHandle(STD_OUTPUT_HANDLE, reinterpret_cast<HANDLE>(_get_osfhandle(1)));
        SetStdHandle(STD_ERROR_HANDLE, reinterpret_cast<HANDLE>(_get_osfhandle(2)));
        // A process started without standard handles (a service) has its C
        // runtime's stdout and stderr on no descriptor (-2), and moving
        // descriptors 1 and 2 does not reach them (nor does freopen, which
        // fails on such a stream): they are put on their descriptors.
        if (_fileno(stdout) != 1)
            stdout->_file = 1;
        if (_fileno(stderr) != 2)
            stderr->_file = 2;
    }
    return error;
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
