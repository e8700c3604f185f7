// Stamping files on the Windows side, for the file calls of process.cpp and
// vm_files.cpp.
#pragma once
#include "platform/os_files.h"

#include <windows.h>

// After a failed file call: OS_FILE_MISSING when there is no such file (nor
// its folder), else OS_FILE_FAILED (GetLastError tells why).
os_file_result missing_or_failed();

// Opens the file or folder at path (any length) for access with sharing,
// following a link only when follow_link is true. Returns the handle, or
// INVALID_HANDLE_VALUE with *error naming the call that failed and its code
// (GetLastError keeps it).
HANDLE open_for_stamp(const char* path, DWORD access, DWORD sharing, bool follow_link, os_error* error);

// Stamps the open file. Returns OS_FILE_DONE, or OS_FILE_FAILED with *error
// naming the call that failed and its code.
os_file_result stamp_of_handle(HANDLE file, os_stamp* stamp, os_error* error);
