// Opening files of the Windows side by paths of any length the run accepts.
#pragma once
#include <windows.h>

// CreateFile for a narrow path: a path of MAX_PATH characters or more (a file
// below an instance folder near that limit) is opened by its long form,
// "\\?\" or "\\?\UNC\" before it, which only the wide call takes. Returns the
// handle, or INVALID_HANDLE_VALUE with *failed_call naming the call that
// failed (GetLastError tells why).
HANDLE create_file_any_length(const char* path, DWORD access, DWORD sharing, DWORD disposition,
                              const char** failed_call);
