// Hosts the one Java VM of the process and drives the Java service class
// qo/wyn/zr/NTService through its static start() and stop().
#pragma once

// Results of invoke_start.
enum {
    START_RETURNED = 0,
    START_NO_CLASS = -1,
    START_NO_METHOD = -2,
    START_THREW = -3,
};

// Results of invoke_stop.
enum {
    STOP_RETURNED = 0,
    STOP_NO_ATTACH = -1,
    STOP_NO_CLASS = -2,
    STOP_NO_METHOD = -3,
};

// True while a VM exists (created and not yet destroyed).
bool jvm_exists();

// Destroys the VM if one exists; this waits for the application's non-daemon
// threads. Must run on the thread that created the VM, or with that thread
// detached from it.
void destroy_jvm();
