// The C runtime the Java VM prints with. The VM's vfprintf hook is given a
// stream of that runtime, which on Windows is not this program's (the
// universal CRT for current JDKs): its standard streams are told apart from
// its other ones (a GC log file), text for a stream is written through it,
// and what the VM prints on that standard error before its hook is in force
// is captured. Declared once here, implemented in win32/ and posix/.
#pragma once
#include "platform/os_errors.h"

#include <cstdarg>
#include <cstddef>
#include <cstdio>

enum os_vm_stream { OS_VM_OTHER_STREAM, OS_VM_STANDARD_OUTPUT, OS_VM_STANDARD_ERROR };

// Finds the C runtime the loaded VM library imports its standard I/O from,
// and puts its standard output and error on the process's standard handles
// where they are not (a runtime that started before the handles were given
// their files). Returns one of the OS_VM_STDIO_ values.
enum os_vm_stdio_binding {
    OS_VM_STDIO_BOUND,
    OS_VM_STDIO_APART,     // not put on the handles: *error names the call that
                           // failed and its code
    OS_VM_STDIO_NOT_FOUND, // *missing names what could not be found: the VM's
                           // streams are then all taken for standard error and
                           // written as this program's standard error
};
os_vm_stdio_binding os_bind_vm_stdio(void* vm_library, os_error* error, const char** missing);

// Which of the VM runtime's streams stream is.
os_vm_stream os_vm_stream_kind(FILE* stream);

// Writes formatted text to a stream of the VM's runtime through that runtime
// and flushes it when flush is set. Returns what the runtime's vfprintf
// returns: the number of bytes written, or a negative number.
int os_vm_vfprintf(FILE* stream, bool flush, const char* format, va_list arguments)
    __attribute__((format(printf, 3, 0)));

// Sends what the VM's runtime writes to its standard error's descriptor from
// now on (its stderr, and this program's too where the two share a runtime)
// to a temporary file, until os_end_std_error_capture: for what the VM prints
// there while it is created, outside its hook too. Returns one of the
// OS_CAPTURE_ values.
enum os_capture_start {
    OS_CAPTURE_BEGUN,
    OS_CAPTURE_NONE,   // nothing is captured: os_bind_vm_stdio found no runtime
    OS_CAPTURE_FAILED, // *error names the call that failed and its code
};
os_capture_start os_begin_std_error_capture(os_error* error);

// Reads what the capture holds from offset on into buffer (capacity bytes),
// zero-terminated, once the runtime's standard error is flushed. Returns the
// number of bytes read: 0 at the capture's end, or without one.
size_t os_read_std_error_capture(size_t offset, char* buffer, size_t capacity);

// Ends the capture: the runtime's standard error is its file again. The
// capture can still be read, until os_drop_std_error_capture.
void os_end_std_error_capture();

// Closes the capture's file, which is then deleted.
void os_drop_std_error_capture();
