// Files the run opens, reads, renames, stamps and removes. Declared once
// here, implemented in win32/ and posix/.
#pragma once
#include <cstddef>
#include <cstdio>

// Opens a file for writing in text mode, creating or truncating it, so that
// other processes may still read, write, rename and delete it (a later run
// renames it while another program reads it). Null when it cannot be opened
// (os_last_error tells why); on POSIX a link is never followed (ELOOP).
FILE* os_open_text_for_writing(const char* path);

// The same, but keeping what the file holds and writing at its end.
FILE* os_open_text_for_appending(const char* path);

// Reads the file at path from its start into buffer, at most capacity bytes
// (a file that fills the buffer may hold more), and sets *length to the
// number read; no terminator is added. Other processes may write the file
// meanwhile. Returns 0, 1 when there is no such file (nor its folder), 2 when
// it is no regular file (a FIFO, a device; found without waiting on POSIX),
// or -1 with *failed_call naming the call that failed (os_last_error tells
// why).
int os_read_file(const char* path, char* buffer, size_t capacity, size_t* length, const char** failed_call);

// Renames the file from to the name to, replacing an existing file of that
// name. Returns 0, 1 when there is no file from (nor its folder), or -1
// (os_last_error).
int os_replace_file(const char* from, const char* to);

// The size in bytes and the last-write time of the file at path, the time in
// the platform's own units (what counts is only whether it changed). Returns
// 0, 1 when there is no such file (nor its folder), or -1 with *failed_call
// naming the call that failed (os_last_error tells why).
int os_file_stamp(const char* path, unsigned long long* size, unsigned long long* modified,
                  const char** failed_call);

// Deletes the file at path. Returns 0, 1 when there is none, or -1
// (os_last_error).
int os_remove_file(const char* path);

// The bytes free for the process's user on the volume that holds the folder
// at path. Returns 0, or -1 with *failed_call naming the call that failed
// (os_last_error tells why).
int os_free_space(const char* path, unsigned long long* bytes, const char** failed_call);
