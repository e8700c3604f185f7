/* A small SCM client for the tests, for what Wine's sc.exe does not offer:
 *   svcctl query NAME           prints "state=S accepted=A win32=W specific=X"
 *   svcctl stoptime NAME        sends the stop control and polls the status until
 *                               the service has stopped; prints "stopped_us=N", the
 *                               microseconds from the request to the stopped state
 */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static void print_status(const SERVICE_STATUS *s)
{
    printf("state=%lu accepted=%lu win32=%lu specific=%lu\n", s->dwCurrentState,
           s->dwControlsAccepted, s->dwWin32ExitCode, s->dwServiceSpecificExitCode);
}

static int stop_time(SC_HANDLE service)
{
    LARGE_INTEGER frequency, began, now;
    SERVICE_STATUS status;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&began);
    if (!ControlService(service, SERVICE_CONTROL_STOP, &status)) {
        printf("failed=%lu\n", GetLastError());
        return 1;
    }
    for (;;) {
        QueryPerformanceCounter(&now);
        if (now.QuadPart - began.QuadPart > 60 * frequency.QuadPart) {
            printf("timeout\n");
            return 1;
        }
        if (QueryServiceStatus(service, &status) && status.dwCurrentState == SERVICE_STOPPED)
            break;
        Sleep(0);
    }
    printf("stopped_us=%lld\n", (now.QuadPart - began.QuadPart) * 1000000 / frequency.QuadPart);
    return 0;
}

int main(int argc, char **argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: svcctl query NAME | svcctl stoptime NAME\n");
        return 2;
    }
    SC_HANDLE scm = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
    if (scm == NULL) {
        printf("OpenSCManager failed=%lu\n", GetLastError());
        return 1;
    }
    SC_HANDLE service = OpenServiceA(scm, argv[2], SERVICE_QUERY_STATUS | SERVICE_STOP);
    if (service == NULL) {
        printf("OpenService failed=%lu\n", GetLastError());
        return 1;
    }
    SERVICE_STATUS status;
    memset(&status, 0, sizeof status);
    int rc = 0;
    if (strcmp(argv[1], "query") == 0) {
        if (QueryServiceStatus(service, &status))
            print_status(&status);
        else {
            printf("failed=%lu\n", GetLastError());
            rc = 1;
        }
    } else if (strcmp(argv[1], "stoptime") == 0) {
        rc = stop_time(service);
    } else {
        rc = 2;
    }
    CloseServiceHandle(service);
    CloseServiceHandle(scm);
    return rc;
}
