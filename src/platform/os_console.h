// The process's standard streams and the console's stop requests. Declared
// once here, implemented in win32/ and posix/.
//
// posix/ is written for Linux and relies on it, here and for every os_*.h:
// the executable's path from /proc/self/exe, the stop signals taken by
// sigwait on a thread of their own as Linux delivers them, flock claims,
// SOCK_CLOEXEC and MSG_NOSIGNAL, the VM library at lib/server/libjvm.so.
// Another POSIX system needs its own implementation.
#pragma once
#include "platform/os_errors.h"

// Sends standard output and standard error, of this program and of every
// library it loads later (the Java VM included), into a pipe of at least
// buffer_bytes whose reading end the process keeps for
// os_read_captured_output. Returns no error, or the call that failed and
// its code.
os_error os_capture_std_streams(unsigned long buffer_bytes);

// Reads what the pipe of os_capture_std_streams holds into buffer: waits for
// bytes until os_wake_output_reader is called, and from then on takes only
// what is there. Returns the number of bytes read, 0 once woken with nothing
// left, or -1 (os_last_error).
long os_read_captured_output(char* buffer, unsigned long capacity);

// Makes os_read_captured_output stop waiting. Any thread.
void os_wake_output_reader();

// Calls on_stop, on a thread that is neither the caller's nor one of the
// Java VM's, each time the user asks the foreground process to stop: Ctrl+C
// or the console closing, the user logging off or the system shutting down
// on Windows (Ctrl+Break stays with the VM's thread dumps), SIGINT, SIGTERM
// or SIGHUP on POSIX. Windows ends the process as soon as a handler of the
// last three returns: there the watch returns only when the process ends
// (on_stop's road ends it), or Windows ends it at its own limit. Must be
// called before any other thread exists. Returns 0, or -1 (os_last_error).
int os_watch_stop_requests(void (*on_stop)());

// Puts the watch of os_watch_stop_requests before any a library loaded since
// (the VM, whose own Ctrl+C handling would end the process at once) has set
// up, so that on_stop is called first. Called on the thread that created the
// VM, right after creating it: on POSIX the stop signals then get a handler
// that passes them on to the watch, and this thread, whose signal mask the
// application's threads and their child processes inherit, stops blocking
// them, so that children start with the default dispositions and mask.
void os_put_stop_watch_first();

// Gives the calling thread, created after os_put_stop_watch_first to run the
// application's code (its stop()), the signal mask a thread of the java
// launcher has: on POSIX the stop signals are not blocked, so that its child
// processes can be stopped.
void os_begin_application_thread();

// For a service process on Windows: the console logoff event, which a
// service receives when a user logs off, is taken and ignored before the
// VM's handler or the default one (which would end the process) sees it.
// Called again after the VM's creation, it puts that handling first again.
// Does nothing on POSIX. Returns 0, or -1 (os_last_error).
int os_ignore_logoff();
