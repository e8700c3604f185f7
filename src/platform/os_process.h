// What the operating system provides to the process as a whole. Declared once
// here, implemented in win32/ and posix/.
#pragma once
#include <cstdio>
#include <ctime>

// The separator between the components of a path, and between the entries of
// the Java class path.
extern const char OS_PATH_SEPARATOR;
extern const char OS_CLASS_PATH_SEPARATOR;

// Prepares the process before anything else runs: standard output becomes
// unbuffered, and the current directory is taken out of the search for
// libraries loaded by name.
void os_process_init();

// The operating system's error code of the last failed call of this thread.
unsigned long os_last_error();

// Writes the full path of the running executable into buffer. Returns the
// number of characters written, 0 on failure (os_last_error tells why), or -1
// when the path does not fit (the buffer is then emptied).
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

// Sets an environment variable of the process. Returns 0, or -1 (os_last_error).
int os_setenv(const char* name, const char* value);

// Opens a file for writing in text mode, creating or truncating it, so that
// other processes may still read, write, rename and delete it (a later run
// renames it while another program reads it). Null when it cannot be opened.
FILE* os_open_text_for_writing(const char* path);

// The same, but keeping what the file holds and writing at its end.
FILE* os_open_text_for_appending(const char* path);

// Converts a time to the local time of the system's time-zone settings.
// Returns 0, or -1 when it cannot be converted.
int os_local_time(time_t when, struct tm* result);
