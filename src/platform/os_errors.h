// The operating system's error codes of failed calls. Declared once here,
// implemented in win32/ and posix/.
#pragma once

// The operating system's error code of the last failed call of this thread.
unsigned long os_last_error();

// The C runtime's error number for an operating-system error code of a failed
// file call, mapped as the runtime maps it. Where the codes are error numbers
// already, the code itself.
int os_error_number(unsigned long os_error);

// How a platform call failed: the name of the operating-system or C runtime
// call the platform layer actually made, and the code that call gave (its
// error code, or this thread's last error right after it). An os_error with
// no call is no failure.
struct os_error {
    const char* call = nullptr;
    unsigned long code = 0;

    bool ok() const { return call == nullptr; }
};

// The failure of call, which has just failed: its name and this thread's last
// error code.
inline os_error os_failed(const char* call)
{
    return os_error{call, os_last_error()};
}
