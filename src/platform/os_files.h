// Files the run opens, reads, renames, stamps and removes. Declared once
// here, implemented in win32/ and posix/.
#pragma once
#include "platform/os_errors.h"
#include <cstddef>
#include <cstdio>

// What a file call below found.
enum os_file_result {
    OS_FILE_DONE = 0,
    OS_FILE_MISSING = 1,     // no such file (nor its folder)
    OS_FILE_NOT_REGULAR = 2, // os_read_file: a FIFO, a device (found without waiting on POSIX)
    OS_FILE_FAILED = -1,     // *error names the call that failed and its code
};

// Opens a file for writing in text mode, creating or truncating it, so that
// other processes may still read, write, rename and delete it (a later run
// renames it while another program reads it). Null when it cannot be opened
// (os_last_error tells why); on POSIX a link is never followed (ELOOP).
FILE* os_open_text_for_writing(const char* path);

// The same, but keeping what the file holds and writing at its end.
FILE* os_open_text_for_appending(const char* path);

// As the two above, but the bytes are written as given: no line end is
// translated (binary mode on Windows).
FILE* os_open_bytes_for_writing(const char* path, bool append);

// How a line of text ends in the platform's text files: "\r\n" on Windows.
extern const char OS_LINE_END[];

// Reads the file at path from its start into buffer, at most capacity bytes
// (a file that fills the buffer may hold more), and sets *length to the
// number read; no terminator is added. Other processes may write the file
// meanwhile. Returns OS_FILE_DONE, _MISSING, _NOT_REGULAR, or _FAILED with
// *error naming the call that failed and its code.
os_file_result os_read_file(const char* path, char* buffer, size_t capacity, size_t* length, os_error* error);

// Renames the file from to the name to, replacing an existing file of that
// name. Returns OS_FILE_DONE, _MISSING (no file from), or _FAILED with
// *error naming the call that failed and its code.
os_file_result os_replace_file(const char* from, const char* to, os_error* error);

// What tells a file apart from any other without reading it: its size, its
// last-write time, its last-change time (which no program sets at will: a
// file rewritten with its old size and write time, or another renamed over
// it, differs there) and its identity (the device and inode on POSIX, the
// volume serial and file index on Windows), in the platform's own units.
struct os_stamp {
    unsigned long long size, modified, changed, volume, index;
    bool regular; // a regular file (not a folder, a FIFO, a device, nor a link when links are not followed)
};

// Stamps the file or folder at path, following a link only when follow_link
// is true. Returns OS_FILE_DONE, _MISSING, or _FAILED with *error naming
// the call that failed and its code.
os_file_result os_file_stamp(const char* path, bool follow_link, os_stamp* stamp, os_error* error);

// Deletes the file at path. Returns OS_FILE_DONE, _MISSING, or _FAILED with
// *error naming the call that failed and its code.
os_file_result os_remove_file(const char* path, os_error* error);

// The bytes free for the process's user on the volume that holds the folder
// at path. Returns OS_FILE_DONE, or _FAILED with *error naming the call that
// failed and its code.
os_file_result os_free_space(const char* path, unsigned long long* bytes, os_error* error);
