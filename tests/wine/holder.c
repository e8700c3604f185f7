/* Keeps a Wine session, and with it the Service Control Manager, alive for
   the length of a test run. With a file's path: holds that file open for
   reading, sharing reading only, as a backup agent or a viewer does, and
   says "held" once it does. */
#include <windows.h>
#include <stdio.h>

int main(int argc, char **argv)
{
    if (argc > 1) {
        HANDLE file = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
        printf(file == INVALID_HANDLE_VALUE ? "failed=%lu\n" : "held\n", GetLastError());
        fflush(stdout);
    }
    Sleep(INFINITE);
    return 0;
}
