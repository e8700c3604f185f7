#include "platform/os_vm_files.h"

#include "platform/win32/file_stamp.h"

#include <windows.h>
#include <sddl.h>
#include <cstdio>
#include <cstring>
#include <cwchar>

struct os_vm_file {
    HANDLE handle;
};

os_vm_file* os_hold_vm_file(const char* path, char* vm_path, size_t capacity, os_stamp* stamp,
                            os_file_result* result, os_error* error)
{
    // Shared for reading only: while it is held, no one writes, renames,
    // deletes or replaces it; the VM opens it for reading.
    HANDLE handle = open_for_stamp(path, GENERIC_READ, FILE_SHARE_READ, false, error);
    if (handle == INVALID_HANDLE_VALUE) {
        *result = missing_or_failed();
        return nullptr;
    }
    os_file_result stamped = stamp_of_handle(handle, stamp, error);
    if (stamped != OS_FILE_DONE || !stamp->regular) {
        CloseHandle(handle);
        *result = stamped != OS_FILE_DONE ? stamped : OS_FILE_NOT_REGULAR;
        return nullptr;
    }
    snprintf(vm_path, capacity, "%s", path);
    *result = OS_FILE_DONE;
    return new os_vm_file{handle};
}

void os_release_vm_file(os_vm_file* file)
{
    if (file == nullptr)
        return;
    CloseHandle(file->handle);
    delete file;
}

os_mapping os_file_is_mapped(const os_stamp&)
{
    return OS_MAPPING_UNKNOWN;
}

struct os_private_folder {
    HANDLE handle;
    wchar_t name[64];
};

// Full control for the run's user and the system, none for anyone else,
// nothing inherited from the instance folder. The user is named by its SID,
// not as the owner's rights ("OW"), which Wine does not map onto the folder's
// owner: there a run as an ordinary user could not create the folder (5).
static const wchar_t PRIVATE_ACCESS[] = L"D:P(A;OICI;FA;;;%ls)(A;OICI;FA;;;SY)";

// Writes the SID of the process's user as text into sid. Returns true, or
// false with *error naming the call that failed and its code.
static bool user_sid_text(wchar_t* sid, size_t capacity, os_error* error)
{
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        *error = os_failed("OpenProcessToken");
        return false;
    }
    union {
        TOKEN_USER user;
        char bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    } buffer;
    DWORD size = 0;
    BOOL queried = GetTokenInformation(token, TokenUser, &buffer, sizeof buffer, &size);
    if (!queried)
        *error = os_failed("GetTokenInformation");
    CloseHandle(token);
    if (!queried)
        return false;
    wchar_t* text;
    if (!ConvertSidToStringSidW(buffer.user.User.Sid, &text)) {
        *error = os_failed("ConvertSidToStringSidW");
        return false;
    }
    int length = swprintf(sid, capacity, L"%ls", text);
    LocalFree(text);
    if (length < 0) {
        *error = os_error{"ConvertSidToStringSidW", ERROR_INSUFFICIENT_BUFFER};
        return false;
    }
    return true;
}

// Makes the security descriptor of PRIVATE_ACCESS for the run's user into
// *security (to be freed with LocalFree). Returns true, or false with *error
// naming the call that failed and its code.
static bool private_security(SECURITY_ATTRIBUTES* security, os_error* error)
{
    wchar_t sid[SECURITY_MAX_SID_SIZE * 4];
    if (!user_sid_text(sid, sizeof sid / sizeof sid[0], error))
        return false;
    wchar_t access[sizeof PRIVATE_ACCESS / sizeof PRIVATE_ACCESS[0] + sizeof sid / sizeof sid[0]];
    swprintf(access, sizeof access / sizeof access[0], PRIVATE_ACCESS, sid);
    *security = {sizeof *security, nullptr, FALSE};
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(access, SDDL_REVISION_1,
                                                              &security->lpSecurityDescriptor, nullptr)) {
        *error = os_failed("ConvertStringSecurityDescriptorToSecurityDescriptorW");
        return false;
    }
    return true;
}

os_private_folder* os_make_private_folder(const char* prefix, char* vm_folder, size_t capacity, os_error* error)
{
    SECURITY_ATTRIBUTES security;
    if (!private_security(&security, error))
        return nullptr;
    os_private_folder folder;
    for (unsigned attempt = 0;; ++attempt) {
        swprintf(folder.name, sizeof folder.name / sizeof folder.name[0], L"%hs%08lx%02x", prefix,
                 GetCurrentProcessId(), attempt);
        if (CreateDirectoryW(folder.name, &security))
            break;
        *error = os_failed("CreateDirectoryW");
        if (error->code != ERROR_ALREADY_EXISTS || attempt == 255) {
            LocalFree(security.lpSecurityDescriptor);
            return nullptr;
        }
    }
    LocalFree(security.lpSecurityDescriptor);
    // Held without delete sharing: no one renames it, or puts anything else
    // in its place, while the run holds it.
    folder.handle = CreateFileW(folder.name, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (folder.handle == INVALID_HANDLE_VALUE) {
        *error = os_failed("CreateFileW");
        RemoveDirectoryW(folder.name);
        return nullptr;
    }
    snprintf(vm_folder, capacity, "%ls", folder.name);
    return new os_private_folder(folder);
}

// Removes the files of the folder name, never following a link (a link is
// removed itself), then the folder unless it is a link.
static void remove_folder(const wchar_t* name)
{
    wchar_t pattern[MAX_PATH];
    swprintf(pattern, MAX_PATH, L"%ls\\*", name);
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW(pattern, &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                continue;
            wchar_t path[MAX_PATH];
            swprintf(path, MAX_PATH, L"%ls\\%ls", name, entry.cFileName);
            // Read-only, as the VM writes its class archive, it would stay.
            SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(path);
        } while (FindNextFileW(search, &entry));
        FindClose(search);
    }
    RemoveDirectoryW(name);
}

void os_remove_private_folder(os_private_folder* folder)
{
    if (folder == nullptr)
        return;
    CloseHandle(folder->handle);
    remove_folder(folder->name);
    delete folder;
}

void os_remove_stale_private_folders(const char* prefix)
{
    wchar_t pattern[64];
    swprintf(pattern, sizeof pattern / sizeof pattern[0], L"%hs*", prefix);
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW(pattern, &entry);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        DWORD attributes = entry.dwFileAttributes;
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
            remove_folder(entry.cFileName);
    } while (FindNextFileW(search, &entry));
    FindClose(search);
}
