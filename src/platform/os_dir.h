// Listing the entries of a directory. Declared once here, implemented in
// win32/ and posix/.
#pragma once

enum os_entry_type {
    OS_ENTRY_DIRECTORY,     // a directory, or a link to one
    OS_ENTRY_REPARSE_POINT, // a link (reparse point) that is not a directory
    OS_ENTRY_FILE,
    OS_ENTRY_OTHER,         // no file to read: a FIFO, a socket, a device, a dangling link
    OS_ENTRY_INEXACT_NAME,  // its name holds characters the code page of os_text_code_page cannot hold
};

struct os_dir;

// Starts listing the directory at path, which must be non-empty, at most 255
// characters long and name an existing directory. Returns the listing, or
// null with *error set to the C runtime's error number of the failure (as
// strerror knows it): ENOENT for an empty, overlong or missing path and for
// a path that names a file.
os_dir* os_dir_open(const char* path, int* error);

// The next entry's name (valid until the next call) and type, in the order the
// system lists them, "." and ".." included. Null when there are no more.
const char* os_dir_next(os_dir* dir, os_entry_type* type);

void os_dir_close(os_dir* dir);
