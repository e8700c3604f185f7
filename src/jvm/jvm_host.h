// Hosts the one Java VM of the process and drives the Java service class
// qo/wyn/zr/NTService through its static start() and stop().
#pragma once
#include "jvm/jvm_launch.h"

// Results of invoke_start.
enum {
    START_RETURNED = 0,
    START_NO_CLASS = -1,
    START_NO_METHOD = -2,
    START_THREW = -3,
};

// Loads the VM library of the launch's Java home on the first call and
// creates the VM with the launch's options, in their order, after the VM's
// hooks (vm_hooks.h). Unknown options make the creation fail. Runs on the
// thread that will call invoke_start. Returns true when the VM exists
// afterwards; false after logging why not (the library cannot be used, or
// the VM refused to start).
bool create_jvm(const jvm_launch& launch);

// How the VM ends the process itself.
enum vm_end {
    VM_END_CREATING,   // while it is created: it gave up, or exited
    VM_END_EXIT,       // later, by its exit: the application's System.exit(),
                       // from a thread the destruction waits for too
    VM_END_DESTROYING, // it gave up while destroy_jvm destroyed it (writing
                       // its class archive, say): the application had ended
    VM_END_ABORTING,   // it gives up while the application runs: a fatal
                       // error, or writing its class archive at the
                       // application's System.exit() (whose code it does
                       // not tell)
};

// What happens when the VM ends the process itself: code is the exit code
// (the application's System.exit(), or the VM's own). Runs on whatever
// thread the VM ends the process from, and must end the process itself,
// except for VM_END_DESTROYING and VM_END_ABORTING: returning then leaves
// the end to the VM.
typedef void (*vm_exit_handler)(int code, vm_end how);

// Sets the handler, before create_jvm. Without one the VM ends the process
// itself, with its code.
void on_vm_exit(vm_exit_handler handler);

// Calls the service class's static start() on the thread that created the VM
// and returns when it returns: START_RETURNED, START_THREW (start() ended with
// an exception, whose text is logged), START_NO_CLASS or START_NO_METHOD,
// each failure logged.
int invoke_start();

// Calls the service class's static stop() from any thread but the creating
// one, attached to the VM for the call and detached afterwards. A missing
// class or method, an exception stop() ends with, and a thread that cannot
// be attached are logged. Returns true when stop() was called and returned
// normally.
bool invoke_stop();

// Destroys the VM if one exists; this waits for the application's non-daemon
// threads. Must run on the thread that created the VM, or with that thread
// detached from it. Never runs at the same time as invoke_stop. Returns true
// when the VM existed and DestroyJavaVM succeeded.
bool destroy_jvm();
