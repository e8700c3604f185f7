#include "platform/os_claim.h"

#include "platform/win32/long_path.h"

#include <windows.h>

int os_claim_instance(const char* path)
{
    // Written by this process alone: another run that asks to write finds it
    // taken (a sharing violation) until this process ends. The handle is not
    // inherited by the VM's child processes, and never closed: the claim
    // lasts as long as the process.
    const char* failed_call = "";
    HANDLE file = create_file_any_length(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, OPEN_ALWAYS,
                                         &failed_call);
    if (file != INVALID_HANDLE_VALUE)
        return OS_CLAIM_TAKEN;
    DWORD error = GetLastError();
    if (error == ERROR_SHARING_VIOLATION)
        return OS_CLAIM_HELD;
    if (error == ERROR_PATH_NOT_FOUND || error == ERROR_FILE_NOT_FOUND || error == ERROR_DIRECTORY)
        return OS_CLAIM_NO_FOLDER;
    SetLastError(error);
    return OS_CLAIM_FAILED;
}
