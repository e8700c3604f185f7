/* A small SCM client for the tests, for what Wine's sc.exe does not print:
 *   svcctl query NAME    prints "state=S accepted=A win32=W specific=X check=C hint=H" */
#include <windows.h>
#include <stdio.h>

int main(int argc, char **argv)
{
    SC_HANDLE scm = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
    SC_HANDLE service = scm && argc > 2 ? OpenServiceA(scm, argv[2], SERVICE_QUERY_STATUS) : NULL;
    SERVICE_STATUS s;
    if (service == NULL || !QueryServiceStatus(service, &s)) {
        printf("failed=%lu\n", GetLastError());
        return 1;
    }
    printf("state=%lu accepted=%lu win32=%lu specific=%lu check=%lu hint=%lu\n", s.dwCurrentState,
           s.dwControlsAccepted, s.dwWin32ExitCode, s.dwServiceSpecificExitCode, s.dwCheckPoint, s.dwWaitHint);
    return 0;
}
