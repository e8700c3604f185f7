// The service manager's readiness protocol (systemd's sd_notify): a run
// started with NOTIFY_SOCKET in its environment tells the manager when it is
// ready, when it stops, and what it is doing. Declared once here; Windows has
// no such manager (the SCM has its own status reports).
#pragma once
#include "platform/os_errors.h"

// How long a notification may wait for room in the manager's socket: the
// readiness must not be dropped because the manager has not yet read what
// came before, nor hold the run for good.
enum { OS_NOTIFY_WAIT_MILLISECONDS = 5000 };

// Sends state ("READY=1", "STOPPING=1", "STATUS=...", lines joined by '\n')
// as one datagram to the socket NOTIFY_SOCKET names, as sd_notify takes it:
// an absolute path, or an abstract name when it starts with '@'. With wait,
// waits at most OS_NOTIFY_WAIT_MILLISECONDS for room in the socket; without,
// never waits. Returns one of the OS_NOTIFY_ values below.
enum os_notify_result {
    OS_NOTIFY_SENT,
    OS_NOTIFY_NO_MANAGER, // NOTIFY_SOCKET not set; always on Windows
    OS_NOTIFY_FAILED,     // *error names the call that failed and its code
    OS_NOTIFY_REFUSED,    // *refusal says why NOTIFY_SOCKET names no socket to
                          // use (a relative path, a name too long for a
                          // socket address)
};
os_notify_result os_notify_service_manager(const char* state, bool wait, os_error* error, const char** refusal);
