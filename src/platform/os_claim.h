// One run per instance: a claim on a lock file in the instance folder, held
// for the life of the process and dropped by the operating system when the
// process ends, however it ends. Declared once here, implemented in win32/
// and posix/.
#pragma once
#include "platform/os_errors.h"

enum os_claim_result {
    OS_CLAIM_TAKEN = 0,     // this process holds the claim from now on
    OS_CLAIM_HELD = 1,      // another process holds it
    OS_CLAIM_NO_FOLDER = 3, // the lock file's folder does not exist
    OS_CLAIM_LINK = 4,      // the lock file is a link, which is never followed (POSIX)
    OS_CLAIM_FAILED = -1,   // the os_error tells why
};

// Takes the claim on the lock file at path, creating the file when needed:
// a lock only another claim conflicts with (a program that merely opens or
// reads the file never holds it); the VM's child processes do not inherit
// it. Returns one of the OS_CLAIM_ values; with OS_CLAIM_FAILED, *error
// names the call that failed and its code. Called on one thread at a time.
os_claim_result os_claim_instance(const char* path, os_error* error);

