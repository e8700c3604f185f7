#include "platform/os_claim.h"

#include "platform/win32/long_path.h"

#include <windows.h>

// The byte the claim locks: far beyond the end of the empty file, so that a
// program reading the file never meets the lock.
static const DWORD LOCKED_OFFSET_HIGH = 0x40000000;

os_claim_result os_claim_instance(const char* path, os_error* error)
{
    // Opened for reading only, sharing everything: a backup agent, scanner
    // or viewer that opens the file (even sharing reading only) neither
    // stops a run nor is stopped by one. The claim is the lock of one byte,
    // which only another run takes. The handle is not inherited by the VM's
    // child processes, and never closed: the claim lasts as long as the
    // process, and the system drops the lock when the process ends.
    HANDLE file = create_file_any_length(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         OPEN_ALWAYS, error);
    if (file == INVALID_HANDLE_VALUE) {
        if (error->code == ERROR_PATH_NOT_FOUND || error->code == ERROR_FILE_NOT_FOUND ||
            error->code == ERROR_DIRECTORY)
            return OS_CLAIM_NO_FOLDER;
        return OS_CLAIM_FAILED;
    }
    OVERLAPPED at = {};
    at.OffsetHigh = LOCKED_OFFSET_HIGH;
    if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at))
        return OS_CLAIM_TAKEN;
    *error = os_failed("LockFileEx");
    CloseHandle(file);
    return error->code == ERROR_LOCK_VIOLATION ? OS_CLAIM_HELD : OS_CLAIM_FAILED;
}
