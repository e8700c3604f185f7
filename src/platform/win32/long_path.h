// Opening files of the Windows side by paths of any length the run accepts.
#pragma once
#include "platform/os_errors.h"

#include <windows.h>

enum { WIDE_LONG_PATH_CAPACITY = 4 * MAX_PATH };

// The wide form of a narrow path (in the ANSI code page) that a wide call
// takes whatever its length: a full path of MAX_PATH characters or more gets
// its long form, "\\?\" or "\\?\UNC\" before it. Returns 0, or -1 when it
// cannot be converted or does not fit (GetLastError tells why).
int wide_any_length(const char* path, wchar_t* wide, int capacity);

// CreateFile for a narrow path of any length, as wide_any_length gives it,
// with flags and attributes flags. Returns the handle, or
// INVALID_HANDLE_VALUE with *error naming the call that failed and its code
// (GetLastError keeps it).
HANDLE create_file_any_length(const char* path, DWORD access, DWORD sharing, DWORD disposition, os_error* error,
                              DWORD flags = FILE_ATTRIBUTE_NORMAL);
