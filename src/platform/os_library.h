// Loading a shared library at run time and resolving its exports. Declared
// once here, implemented in win32/ and posix/.
#pragma once
#include <cstddef>

// Where the Java VM library lies below a Java home, with the leading separator.
extern const char OS_JVM_LIBRARY[];

// The names of the loader's two calls, for the messages about their failures.
extern const char OS_LOAD_LIBRARY_CALL[];
extern const char OS_FIND_SYMBOL_CALL[];

// Loads the library at its full path; its own dependencies are looked for in
// its folder first. Null on failure (os_library_error tells why).
void* os_load_library(const char* path);

// The address of an export of a loaded library. Null when the library does
// not export the name (os_library_error tells why).
void* os_find_symbol(void* library, const char* name);

// Writes why the last load or lookup of this thread failed: the operating
// system's error code in decimal on Windows, the loader's own text on POSIX.
// A reason that does not fit leaves buffer empty.
void os_library_error(char* buffer, size_t capacity);
