/* The smallest service there is, for comparison: it reports running, and on
   a stop request reports stopped at once. The control handler only signals
   the main thread, which reports stopped: a process that ended inside the
   handler would break the SCM's pipe before the control returned. */
#include <windows.h>

static SERVICE_STATUS_HANDLE handle;
static SERVICE_STATUS status;
static HANDLE stopped;

static void report(DWORD state, DWORD accepted)
{
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = accepted;
    SetServiceStatus(handle, &status);
}

static void WINAPI control(DWORD code)
{
    if (code == SERVICE_CONTROL_STOP)
        SetEvent(stopped);
}

static void WINAPI service_main(DWORD argc, LPSTR *argv)
{
    (void)argc;
    stopped = CreateEventA(NULL, TRUE, FALSE, NULL);
    handle = RegisterServiceCtrlHandlerA(argv[0], control);
    report(SERVICE_RUNNING, SERVICE_ACCEPT_STOP);
    WaitForSingleObject(stopped, INFINITE);
    report(SERVICE_STOPPED, 0);
}

int main(void)
{
    SERVICE_TABLE_ENTRYA table[] = {{(LPSTR) "minimal", service_main}, {NULL, NULL}};
    return StartServiceCtrlDispatcherA(table) ? 0 : 1;
}
