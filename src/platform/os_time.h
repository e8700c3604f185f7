// The local time of the system's time-zone settings. Declared once here,
// implemented in win32/ and posix/.
#pragma once
#include <ctime>

// Converts a time to the local time of the system's time-zone settings.
// Returns 0, or -1 when it cannot be converted.
int os_local_time(time_t when, struct tm* result);
