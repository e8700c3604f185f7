// The operating system's error codes of failed calls. Declared once here,
// implemented in win32/ and posix/.
#pragma once

// The operating system's error code of the last failed call of this thread.
unsigned long os_last_error();

// The C runtime's error number for an operating-system error code of a failed
// file call, mapped as the runtime maps it. Where the codes are error numbers
// already, the code itself.
int os_error_number(unsigned long os_error);
