/* Keeps a Wine session, and with it the Service Control Manager, alive for
   the length of a test run. Given a path, it also holds that file open as a
   viewer that shares it for reading only (with "shared" after the path: for
   reading and writing, not deleting, as a viewer of a growing file does),
   and says "held" once it does. */
#include <windows.h>
#include <stdio.h>

int main(int argc, char** argv)
{
    if (argc > 1) {
        DWORD sharing = argc > 2 ? FILE_SHARE_READ | FILE_SHARE_WRITE : FILE_SHARE_READ;
        HANDLE file = CreateFileA(argv[1], GENERIC_READ, sharing, NULL, OPEN_EXISTING, 0, NULL);
        if (file == INVALID_HANDLE_VALUE) {
            printf("CreateFileA failed: %lu\n", GetLastError());
            return 1;
        }
        printf("held\n");
        fflush(stdout);
    }
    Sleep(INFINITE);
    return 0;
}
