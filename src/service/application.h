// The Java application's life as the service and the foreground mode share
// it: a stop request (from the SCM or the console) and the end of start()
// exclude each other, because once start() has returned the VM is about to be
// destroyed and stop() must not run against it.
#pragma once

// Takes a stop request: unless start() has returned or a stop is already
// under way, runs announce when given (the SCM's stop-pending report), then
// calls the application's stop() if start() is running; a request that comes
// before start() keeps it from being called. Returns 1 when the request was
// taken, 0 for a late or repeated one.
int request_stop(void (*announce)());

// Logs "Invoking main" and runs the application's start() on the thread that
// created the VM, unless a stop request came first. Returns invoke_start's
// result, START_RETURNED when start() was not called.
int run_start();

// What the end of start() means for the service's exit code and the
// foreground process's exit status: 0 when start() returned normally, else
// APPLICATION_NO_CLASS, APPLICATION_NO_START or APPLICATION_START_THREW.
int application_exit_code(int start_result);

enum {
    APPLICATION_NO_CLASS = 1,
    APPLICATION_NO_START = 2,
    APPLICATION_START_THREW = 3,
};

// Prepares the instance as both modes need it: builds its paths and texts,
// logs the search assignments, the class-path option and the instance's other
// VM options, and applies the search assignments to the process. Ends the
// process when that cannot be done.
void prepare_instance(const char* instance_name);

// Creates the VM, logging that it does; a VM that cannot be created ends the
// process.
void create_jvm_or_terminate();
