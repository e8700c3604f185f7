// Paths: their separators, their form, the current directory. Declared once
// here, implemented in win32/ and posix/.
#pragma once

// The separator between the components of a path, and between the entries of
// the Java class path.
extern const char OS_PATH_SEPARATOR;
extern const char OS_CLASS_PATH_SEPARATOR;

// True when path is absolute: a drive and a backslash or a network path on
// Windows, a leading slash on POSIX.
bool os_path_is_absolute(const char* path);

// Turns the other separator that the platform accepts in paths ('/' on
// Windows) into its own. In place.
void os_use_native_separators(char* path);

// Makes path the current directory. Returns 0, or -1 (os_last_error).
int os_set_current_dir(const char* path);
