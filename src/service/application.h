// A stop request, from the SCM or from the console, and the end of the Java
// application's start() exclude each other: once start() has returned the VM
// is about to be destroyed, and stop() must not run against it.
#pragma once

// Calls the application's stop() unless start() has returned or a stop is
// already under way; announce, when given, runs first (the SCM's stop-pending
// report). Returns 1 when stop() was called, 0 for a late or repeated request.
int request_stop(void (*announce)());

// Records that start() has returned; later stop requests do nothing. Waits
// while a stop request is calling stop().
void mark_start_returned();
