// A thread of a given stack size, as the java launcher makes the one that
// creates the VM and runs main(): a thread the VM is created on keeps the
// stack it has. Declared once here, implemented in win32/ and posix/.
#pragma once
#include <cstddef>

// Runs run(argument) on a new thread whose stack holds stack_bytes (raised
// to the least the system takes; 0: the system's default for new threads).
// Returns the thread, or null (os_last_error tells why).
void* os_start_thread(unsigned long long stack_bytes, void (*run)(void* argument), void* argument);

// Waits for a thread of os_start_thread to end, and releases it.
void os_join_thread(void* thread);
