// The VM's hooks for its messages and its ends of the process: every line the
// VM prints on its standard output or error becomes a log line (and, where
// the log is not shown on the console, goes to that stream too), what it
// prints to files of its own (GC logs) goes to those files only, and its
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

// From now on the VM is being destroyed: its giving up (the abort hook) is
// no longer the end of a running application, which has ended already.
void vm_hooks_destroying();

// While the VM is created, until flush_vm_text, what is written on standard
// error (what the VM prints before its hook is in force: about -XX:Flags=
// files, JAVA_TOOL_OPTIONS; and the rest of a warning whose first words come
// through the hook, which goes through the capture too, so the two keep their
// order) is captured and then taken as the VM's text. Called right before the
// creation.
void capture_early_vm_text();

// Ends the capture, and logs what is left of an unfinished line of the VM's
// output.
void flush_vm_text();
