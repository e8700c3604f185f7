// The Java application's life as the service and the foreground mode share
// it: a stop request (from the SCM or the console) calls stop() on a thread
// of its own, the end of start() never waits for it, and the VM is destroyed
// only once no thread is calling stop() any more. Ends that must not wait
// for the application (a stop timeout, the application's own exit, a clean-up
// that does not finish) end the process at once.
#pragma once
#include "jvm/jvm_launch.h"

// Results of request_stop.
enum {
    STOP_REQUEST_TAKEN = 1,    // the first request while start() runs or is still to come
    STOP_REQUEST_LATE = 0,     // the first request, after start() has returned: nothing is done
    STOP_REQUEST_REPEATED = 2, // any later request: nothing is done
};

// Takes a stop request: unless start() has returned or a stop came before,
// runs announce when given (the SCM's stop-pending report), then calls the
// application's stop() on a thread of its own if start() is running (a
// request that comes before start() keeps it from being called), and starts
// the stop timeout when one is set. A stop() that cannot be called or ends
// with an exception while start() runs starts the clean-up limit's instead,
// when no stop timeout is set. Returns STOP_REQUEST_TAKEN, _LATE or
// _REPEATED.
int request_stop(void (*announce)());

// Logs "Invoking main" and runs the application's start() on the thread that
// created the VM, unless a stop request came first; announce, when given, is
// run first (the SCM's running report), never after a stop request's. Returns
// invoke_start's result, START_RETURNED when start() was not called.
int run_start(void (*announce)());

// The clean-up after start() has returned, on the thread that created the
// VM: waits until no thread is calling stop() (logging it when that takes a
// while), then destroys the VM and closes the log. Returns true, or false
// when wait_for_cleanup gave up on it meanwhile and is ending the process.
bool release_application();

// Waits until start() has returned, then at most 30 seconds for
// release_application to finish. When it does not, logs so and ends the
// process as end_application does with APPLICATION_CLEANUP_TIMEOUT.
void wait_for_cleanup();

// Sets how the mode reports the application's end (the service's stopped
// report, given the exit code) when the process ends without the normal
// road: a stop timeout, the application's own exit, the clean-up limit, or
// the VM giving up while it writes the class archive. Not set, nothing is
// reported.
void on_application_end(void (*report)(int exit_code));

// Closes the log, reports the end as on_application_end set (the last thing
// the process does) and ends the process at once, with exit_code.
[[noreturn]] void end_application(int exit_code);

// True once start() has been invoked (it may still run, or have ended).
bool application_started();

// The VM gave up while release_application destroyed it, after the
// application had ended. When the run had the VM write its class archive,
// taken for the cause (a full disk, say): removes the unfinished archive,
// logs so, and ends the run as release_application and the mode would have:
// closes the log, reports the end as on_application_end set, and ends the
// process, both with application_exit_code of start()'s result. Otherwise
// returns, and the VM ends the process its own way.
void end_after_failed_destruction();

// What the end of start() means for the service's exit code and the
// foreground process's exit status: 0 when start() returned normally,
// APPLICATION_NO_CLASS, APPLICATION_NO_START or APPLICATION_START_THREW, and
// -1 for any other result.
int application_exit_code(int start_result);

// The service-specific exit codes and the foreground exit statuses.
enum {
    APPLICATION_NO_CLASS = 1,
    APPLICATION_NO_START = 2,
    APPLICATION_START_THREW = 3,
    APPLICATION_STOP_TIMEOUT = 4,    // start() had not returned when the stop timeout ran out
    APPLICATION_EXITED = 5,          // the application ended the process with a code other than 0
    APPLICATION_STOPPED_AGAIN = 6,   // a second stop request in the foreground
    APPLICATION_CLEANUP_TIMEOUT = 7, // the clean-up did not finish in time
};

// The instance's launch: built by prepare_instance on the main thread before
// the application's thread exists, only read afterwards.
extern jvm_launch g_launch;

// Prepares the instance as both modes need it (build_paths) into g_launch.
// Ends the process when that cannot be done.
void prepare_instance(const char* instance_name);

// Creates the VM of g_launch, logging that it does; a VM that cannot be
// created, or that ends the process while being created, ends the process
// (-1). An end of the process by the VM later on is logged with its exit
// code, reported (on_application_end), and ends the process with 0 or
// APPLICATION_EXITED.
void create_jvm_or_terminate();
