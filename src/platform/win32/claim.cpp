#include "platform/os_claim.h"

#include "platform/win32/long_path.h"

#include <windows.h>

// The byte the claim locks: far beyond the end of the empty file, so that a
// program reading the file never meets the lock.
static const DWORD LOCKED_OFFSET_HIGH = 0x40000000;

int os_claim_instance(const char* path, const char** failed_call)
{
    // Opened for reading only, sharing everything: a backup agent, scanner
    // or viewer that opens the file (even sharing reading only) neither
    // stops a run nor is stopped by one. The claim is the lock of one byte,
    // which only another run takes. The handle is not inherited by the VM's
    // child processes, and never closed: the claim lasts as long as the
    // process, and the system drops the lock when the process ends.
    HANDLE file = create_file_any_length(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         OPEN_ALWAYS, failed_call);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        if (error == ERROR_PATH_NOT_FOUND || error == ERROR_FILE_NOT_FOUND || error == ERROR_DIRECTORY)
            return OS_CLAIM_NO_FOLDER;
        SetLastError(error);
        return OS_CLAIM_FAILED;
    }
    OVERLAPPED at = {};
    at.OffsetHigh = LOCKED_OFFSET_HIGH;
    if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at))
        return OS_CLAIM_TAKEN;
    DWORD error = GetLastError();
    CloseHandle(file);
    if (error == ERROR_LOCK_VIOLATION)
        return OS_CLAIM_HELD;
    *failed_call = "LockFileEx";
    SetLastError(error);
    return OS_CLAIM_FAILED;
}
