/* Keeps a Wine session, and with it the Service Control Manager, alive for
   the length of a test run. */
#include <windows.h>

int main(void)
{
    Sleep(INFINITE);
    return 0;
}
