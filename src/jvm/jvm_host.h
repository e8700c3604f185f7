// Hosts the one Java VM of the process and drives the Java service class
// qo/wyn/zr/NTService through its static start() and stop().
#pragma once

// Results of invoke_start.
enum {
    START_RETURNED = 0,
    START_NO_CLASS = -1,
    START_NO_METHOD = -2,
    START_THREW = -3,
    START_NO_JVM = -4,
};

// Results of invoke_stop.
enum {
    STOP_RETURNED = 0,
    STOP_NO_ATTACH = -1,
    STOP_NO_CLASS = -2,
    STOP_NO_METHOD = -3,
};

// The most options create_jvm passes to the VM.
enum { CREATE_JVM_MOST_OPTIONS = 300 };

// Loads the VM library of the Java home on the first call (by its full path,
// never by its bare name) and creates the VM with the count options, in their
// order (the class-path option first), after the VM's hooks: every line the
// VM prints becomes a log line as well (and goes to standard error), and its
// ends of the process go to the handler of on_vm_exit. Unknown options make
// the creation fail. Runs on the thread that will call invoke_start. Returns
// true when the VM exists afterwards; false after logging why not (too many
// options, the path does not fit, the library or its entry point is missing,
// or the VM refused to start).
bool create_jvm(const char* java_home, const char* const* options, int count);

// What happens when the VM ends the process itself: code is the exit code
// (the application's System.exit(), or the VM's own), created is false while
// the VM is being created. Runs on whatever thread the VM ends the process
// from, and must end the process itself.
typedef void (*vm_exit_handler)(int code, bool created);

// Sets the handler, before create_jvm. Without one the process ends with the
// VM's code.
void on_vm_exit(vm_exit_handler handler);

// Calls the service class's static start() on the thread that created the VM
// and returns when it returns: START_RETURNED, START_THREW (start() ended with
// an exception, whose text is logged), START_NO_CLASS, START_NO_METHOD or
// START_NO_JVM, each failure logged.
int invoke_start();

// Calls the service class's static stop() from any thread but the creating
// one, attached to the VM for the call and detached afterwards. Returns
// STOP_RETURNED (also when stop() ended with an exception, whose text is
// logged), STOP_NO_ATTACH (also when no VM exists), STOP_NO_CLASS or
// STOP_NO_METHOD, each failure logged. Logs fixed texts or texts composed in
// buffers of its own only, so it may run while the service thread logs.
int invoke_stop();

// True while a VM exists (created and not yet destroyed).
bool jvm_exists();

// Destroys the VM if one exists; this waits for the application's non-daemon
// threads. Must run on the thread that created the VM, or with that thread
// detached from it. Never runs at the same time as invoke_stop.
void destroy_jvm();
