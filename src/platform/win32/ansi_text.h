// The process's narrow text on Windows: the ANSI code page, which the Java VM
// reads its option strings in. Text that comes in wide (the command line, the
// executable's path, folder listings, environment values) is converted
// without best-fit mapping, so that a character the code page cannot hold is
// never taken for another.
#pragma once
#include <windows.h>

// Converts wide text into buffer (capacity bytes). A character the code page
// cannot hold becomes '?' and sets *exact to false. Returns 0, or -1 when the
// text does not fit (buffer emptied).
int narrow_from_wide(const wchar_t* wide, char* buffer, int capacity, bool* exact);

// The same into a buffer of its own, made as large as the text needs (to be
// freed with delete[]); empty, and *exact true, when it cannot be converted.
char* new_narrow_from_wide(const wchar_t* wide, bool* exact);
