// What the operating system provides to the process as a whole. Declared once
// here, implemented in win32/ and posix/.
#pragma once
#include <cstdio>
#include <ctime>

// The separator between the components of a path, and between the entries of
// the Java class path.
extern const char OS_PATH_SEPARATOR;
extern const char OS_CLASS_PATH_SEPARATOR;

// How a line of text ends in the platform's text files: "\r\n" on Windows.
extern const char OS_LINE_END[];

// Prepares the process before anything else runs: standard output becomes
// unbuffered, and the current directory is taken out of the search for
// libraries loaded by name. On POSIX, standard descriptors that are not open
// are opened on /dev/null (so that no file the process opens takes their
// place), and a write to a pipe without a reader fails instead of ending the
// process.
void os_process_init();

// The environment variables along which programs and native libraries are
// looked for, and the folders an instance puts on them for its VM and
// application: each folder is a path below the Java home or below the base
// directory. A variable either holds exactly its folders, or gets them in
// front of the value it inherited.
enum os_folder_root { OS_BELOW_JAVA_HOME, OS_BELOW_BASE };

struct os_search_folder {
    os_folder_root root;
    const char* path; // null after the last folder
};

enum { OS_SEARCH_VARIABLE_LIMIT = 2, OS_SEARCH_FOLDER_LIMIT = 3 };

struct os_search_variable {
    const char* name; // null after the last variable
    bool keeps_inherited;
    os_search_folder folders[OS_SEARCH_FOLDER_LIMIT + 1];
};

// The platform's search variables, in the order they are set.
extern const os_search_variable OS_SEARCH_VARIABLES[OS_SEARCH_VARIABLE_LIMIT + 1];

// What a search variable that keeps its inherited value stands for when it
// is not set: for PATH on POSIX the system's default search path
// (confstr(_CS_PATH)), where programs are looked for without it. Null when
// there is none, or it cannot be read.
const char* os_search_default(const char* name);

// The code page every name, path and option of the process is held in: on
// Windows the ANSI code page, which the Java VM reads its option strings in;
// 0 on POSIX, where names are bytes taken as they are.
unsigned os_text_code_page();

// The process's arguments as the system holds them, in place of the C
// runtime's argv: on Windows taken from the wide command line, each converted
// to the code page above without best-fit mapping. Returns the argument
// count and sets *arguments.
int os_arguments(int argc, char** argv, char*** arguments);

// False when the argument at index held characters that the code page cannot
// hold: os_arguments gave it with '?' in their place.
bool os_argument_is_exact(int index);

// The operating system's error code of the last failed call of this thread.
unsigned long os_last_error();

// The C runtime's error number for an operating-system error code of a failed
// file call, mapped as the runtime maps it. Where the codes are error numbers
// already, the code itself.
int os_error_number(unsigned long os_error);

// Writes the full path of the running executable into buffer. Returns the
// number of characters written, 0 on failure (os_last_error tells why), -1
// when the path does not fit (the buffer is then emptied), or -2 when it holds
// characters that the code page of os_text_code_page cannot hold (the buffer
// then holds it with '?' in their place).
int os_module_path(char* buffer, unsigned capacity);

// True when path is absolute: a drive and a backslash or a network path on
// Windows, a leading slash on POSIX.
bool os_path_is_absolute(const char* path);

// Turns the other separator that the platform accepts in paths ('/' on
// Windows) into its own. In place.
void os_use_native_separators(char* path);

// Makes path the current directory. Returns 0, or -1 (os_last_error).
int os_set_current_dir(const char* path);

// The value the environment variable had, null when it is not set. Names are
// matched as the platform matches them (ignoring case on Windows).
const char* os_getenv(const char* name);

// False when the variable's value holds characters that the code page of
// os_text_code_page cannot hold (os_getenv then gives them as '?').
bool os_getenv_is_exact(const char* name);

// Sets an environment variable of the process. Returns 0, or -1 (os_last_error).
int os_setenv(const char* name, const char* value);

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

// True when anything is at path: a file, a folder, or a link, which is not
// followed (one that leads nowhere counts).
bool os_path_taken(const char* path);

// Deletes the file at path. Returns 0, 1 when there is none, or -1
// (os_last_error).
int os_remove_file(const char* path);

// The bytes free for the process's user on the volume that holds the folder
// at path. Returns 0, or -1 with *failed_call naming the call that failed
// (os_last_error tells why).
int os_free_space(const char* path, unsigned long long* bytes, const char** failed_call);

// Converts a time to the local time of the system's time-zone settings.
// Returns 0, or -1 when it cannot be converted.
int os_local_time(time_t when, struct tm* result);
