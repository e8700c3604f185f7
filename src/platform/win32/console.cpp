#include "platform/os_console.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <cstdio>

int os_redirect_std_streams(const char* path)
{
    int fd = _sopen(path, _O_WRONLY | _O_CREAT | _O_TRUNC | _O_TEXT, _SH_DENYNO,
                    _S_IREAD | _S_IWRITE);
    if (fd < 0)
        return -1;
    fflush(stdout);
    fflush(stderr);
    // Descriptors 1 and 2 and the process's standard handles, which the C
    // runtime of a library loaded later (the VM's) reads when it starts, all
    // share one open file, and with it one file position.
    int result = (_dup2(fd, 1) == 0 && _dup2(fd, 2) == 0) ? 0 : -1;
    _close(fd);
    if (result == 0) {
        SetStdHandle(STD_OUTPUT_HANDLE, reinterpret_cast<HANDLE>(_get_osfhandle(1)));
        SetStdHandle(STD_ERROR_HANDLE, reinterpret_cast<HANDLE>(_get_osfhandle(2)));
    }
    return result;
}

int os_replace_file(const char* from, const char* to)
{
    if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING))
        return 0;
    DWORD error = GetLastError();
    return (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) ? 1 : -1;
}

static void (*g_on_stop)() = nullptr;

static BOOL WINAPI console_event(DWORD event)
{
    if (event == CTRL_BREAK_EVENT)
        return FALSE;
    g_on_stop();
    return TRUE;
}

int os_watch_stop_requests(void (*on_stop)())
{
    g_on_stop = on_stop;
    return SetConsoleCtrlHandler(console_event, TRUE) ? 0 : -1;
}

// The handler registered last is asked first.
void os_put_stop_watch_first()
{
    SetConsoleCtrlHandler(console_event, FALSE);
    SetConsoleCtrlHandler(console_event, TRUE);
}
