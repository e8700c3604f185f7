/* For the benchmarks: stoptime NAME sends the stop control to the service and
 * polls its status until it has stopped; prints "stopped_us=N", the
 * microseconds from the request to the stopped state. */
#include <windows.h>
#include <stdio.h>

int main(int argc, char **argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: stoptime NAME\n");
        return 2;
    }
    SC_HANDLE scm = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
    SC_HANDLE service = scm ? OpenServiceA(scm, argv[1], SERVICE_QUERY_STATUS | SERVICE_STOP) : NULL;
    if (service == NULL) {
        printf("failed=%lu\n", GetLastError());
        return 1;
    }
    LARGE_INTEGER frequency, began, now;
    SERVICE_STATUS status;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&began);
    /* ERROR_BROKEN_PIPE: the service's process ended before the control
       returned, which a stopped service may do; its status tells. */
    if (!ControlService(service, SERVICE_CONTROL_STOP, &status) && GetLastError() != ERROR_BROKEN_PIPE) {
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
