// The service manager's readiness protocol (systemd's sd_notify): a run
// started with NOTIFY_SOCKET in its environment tells the manager when it is
// ready, when it stops, and what it is doing. Declared once here; Windows has
// no such manager (the SCM has its own status reports).
#pragma once

// Sends state ("READY=1", "STOPPING=1", "STATUS=...", lines joined by '\n')
// as one datagram to the socket NOTIFY_SOCKET names: a path, or an abstract
// name when it starts with '@'. Returns 0 when sent, 1 when there is no
// manager to tell (NOTIFY_SOCKET not set; always on Windows), or -1 with
// *failed_call naming the call that failed (os_last_error tells why; a name
// too long for a socket address is refused with ENAMETOOLONG).
int os_notify_service_manager(const char* state, const char** failed_call);
