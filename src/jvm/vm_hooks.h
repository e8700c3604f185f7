// The VM's hooks for its messages and its ends of the process: every line the
// VM prints becomes a log line as well (and goes to standard error), and its
// ends of the process go to the handler of on_vm_exit.
#pragma once
#include <jni.h>

enum { VM_HOOK_OPTIONS = 3 };

// Puts the hooks as the first VM_HOOK_OPTIONS creation options, so that the
// VM's messages about the options after them reach the log as well.
void put_vm_hooks(JavaVMOption* options);

// From now on an end of the process by the VM is the application's, not a
// failed creation.
void vm_hooks_created();

// Logs what is left of an unfinished line of the VM's output.
void flush_vm_text();
