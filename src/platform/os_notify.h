// The service manager's readiness protocol (systemd's sd_notify): a run
// started with NOTIFY_SOCKET in its environment tells the manager when it is
// ready, when it stops, and what it is doing. Declared once here; Windows has
// no such manager (the SCM has its own status reports).
#pragma once

// How long a notification may wait for room in the manager's socket: the
// readiness must not be dropped because the manager has not yet read what
// came before, nor hold the run for good.
enum { OS_NOTIFY_WAIT_MILLISECONDS = 5000 };

// Sends state ("READY=1", "STOPPING=1", "STATUS=...", lines joined by '\n')
// as one datagram to the socket NOTIFY_SOCKET names, as sd_notify takes it:
// an absolute path, or an abstract name when it starts with '@'. With wait,
// waits at most OS_NOTIFY_WAIT_MILLISECONDS for room in the socket; without,
// never waits. Returns 0 when sent, 1 when there is no manager to tell
// (NOTIFY_SOCKET not set; always on Windows), -1 with *failed_call naming
// the call that failed (os_last_error tells why), or -2 with *failed_call
// saying why NOTIFY_SOCKET names no socket to use (a relative path, a name
// too long for a socket address).
int os_notify_service_manager(const char* state, bool wait, const char** failed_call);
