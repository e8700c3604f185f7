// What the operating system provides to the process as a whole: its
// preparation, its arguments, its executable's path and the code page its
// texts are held in. Declared once here, implemented in win32/ and posix/.
#pragma once
#include "platform/os_errors.h"

#include <cstddef>

// Prepares the process before anything else runs: standard output becomes
// unbuffered, and the current directory is taken out of the search for
// libraries loaded by name. On POSIX, standard descriptors that are not open
// are opened on /dev/null (so that no file the process opens takes their
// place), and a write to a pipe without a reader fails instead of ending the
// process.
void os_process_init();

// The code page every name, path and option of the process is held in: on
// Windows the ANSI code page, which the Java VM reads its option strings in;
// 0 on POSIX, where names are bytes taken as they are.
unsigned os_text_code_page();

// Converts UTF-8 text (length bytes, well-formed) in place into the code page
// above, without best-fit mapping, and sets *length to the converted length
// (never longer); no terminator is added. On POSIX the text stays as it is.
// Returns one of the OS_TEXT_ values.
enum os_text_conversion {
    OS_TEXT_EXACT,
    OS_TEXT_INEXACT, // a character the code page cannot hold was put as '?'
    OS_TEXT_FAILED,  // *error names the call that failed and its code
};
os_text_conversion os_code_page_from_utf8(char* text, size_t* length, os_error* error);

// The process's arguments as the system holds them, in place of the C
// runtime's argv: on Windows taken from the wide command line, each converted
// to the code page above without best-fit mapping. Returns the argument
// count and sets *arguments.
int os_arguments(int argc, char** argv, char*** arguments);

// False when the argument at index held characters that the code page cannot
// hold: os_arguments gave it with '?' in their place.
bool os_argument_is_exact(int index);

// The results of os_module_path other than a length.
enum {
    OS_MODULE_PATH_FAILED = 0,    // os_last_error tells why
    OS_MODULE_PATH_TOO_LONG = -1, // the buffer is then emptied
    OS_MODULE_PATH_INEXACT = -2,  // the buffer then holds it with '?' in their place
};

// Writes the full path of the running executable into buffer. Returns the
// number of characters written, or OS_MODULE_PATH_FAILED, _TOO_LONG when the
// path does not fit, _INEXACT when it holds characters that the code page of
// os_text_code_page cannot hold.
int os_module_path(char* buffer, unsigned capacity);
