// The run's owner: one room holds the run's plan, the VM it drives, its
// time limits and its one phase; the VM's hooks and both modes ask it, and
// it alone (with main) ends the process. A stop request (from the SCM or the
// console) calls stop() on a thread of its own, the end of start() never
// waits for it, and the VM is destroyed only once no thread is calling
// stop() any more. Ends that must not wait for the application (a stop
// timeout, the application's own exit, a clean-up that does not finish) end
// the process at once. The modes are adapters: they turn the run's events
// into SCM reports, systemd notifications and console text.
#pragma once
#include "instance/instance_plan.h"
#include "jvm/jvm_host.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

enum class run_phase {
    CREATING,   // the VM is being created
    CREATED,    // the VM exists, start() is still to be invoked
    RUNNING,    // start() runs
    STOPPING,   // a stop request was taken, before start() returned
    RETURNED,   // start() returned, or was never invoked after a stop
    DESTROYING, // the clean-up: waiting for stop(), destroying the VM
    DONE,       // the clean-up finished
    ABANDONED,  // the process ends without waiting for the application
};

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

// What the run does with the VM: the host's calls (jvm_host.h), a double in
// the unit tests.
struct run_vm {
    bool (*create)(const instance_plan& plan); // true when the VM exists afterwards
    int (*start)();                            // invoke_start's result
    bool (*stop)();                            // true when stop() returned normally
    bool (*destroy)();                         // true when destroyed cleanly
};

// How long the run waits. The product's are run_limits_of(plan); the unit
// tests use milliseconds.
struct run_limits {
    // From a stop request to the end of the process when start() has not
    // returned by then; zero waits as long as start() takes.
    std::chrono::milliseconds stop_timeout{0};
    // From start()'s end to the end of the clean-up; also from a stop() that
    // failed to start()'s end when no stop timeout is set.
    std::chrono::milliseconds cleanup{30000};
    // How long the clean-up waits for stop() before it says it does.
    std::chrono::milliseconds stop_grace{3000};
};

// The mode's adapter: what the outside is told. Each may be null.
struct run_events {
    void (*running)();            // start() is about to be invoked
    void (*stopping)();           // a stop request was taken
    void (*ended)(int exit_code); // the process ends without the normal road: its last act
    // Ends the process at once (end_process_now); a test's records the code.
    void (*end_process)(int exit_code);
};

struct run {
    instance_plan plan;
    run_vm vm{};
    run_limits limits;
    run_events events{};

    // The phase and what goes with it, guarded by lock; every change is
    // announced through changed.
    std::mutex lock;
    std::condition_variable changed;
    run_phase phase = run_phase::CREATING;
    int stop_requests = 0;
    bool stop_running = false; // a thread is calling the application's stop()
    bool start_invoked = false; // start() was invoked (it may still run)
    int start_result = 0;       // invoke_start's, once start() returned
    // Whether the archive the VM writes while destroyed is still to be put in
    // place or dropped: taken once, by the clean-up or by the VM giving up on
    // a thread of its own.
    std::atomic<bool> archive_pending{false};
};

// The process's run: the VM's hooks call back without a context. Never
// destroyed: a process that ends without waiting may leave threads using it.
run& the_run();

// The product's limits for a plan: its stop timeout, 30 s of clean-up, 3 s
// of grace for stop().
run_limits run_limits_of(const instance_plan& plan);

// The VM host's calls.
run_vm host_vm();

// Makes the plan the run's, before any thread of the run exists.
void take_plan(run& r, instance_plan plan);

// Results of request_stop.
enum class stop_request {
    TAKEN,    // the first request while start() runs or is still to come
    LATE,     // the first request, after start() has returned: nothing is done
    REPEATED, // any later request: nothing is done
};

// Takes a stop request: unless start() has returned or a stop came before,
// tells events.stopping, calls the application's stop() on a thread of its
// own if start() is running (a request that comes before start() keeps it
// from being called), and starts the stop timeout's watch when one is set. A
// stop() that cannot be called or ends with an exception while start() runs
// starts the clean-up limit's watch instead, when no stop timeout is set.
stop_request request_stop(run& r);

// Creates the VM of the plan, logging that it does; one that cannot be
// created ends the run (-1, "Create JVM failed!"). Returns when it exists.
void create_vm(run& r);

// Runs the application's start() on the thread that created the VM, unless a
// stop request came first, logging "Invoking main"; events.running is told
// first, never after a stop request's events.stopping. Returns invoke_start's
// result, START_RETURNED when start() was not called.
int run_start(run& r);

// The clean-up after start() has returned, on the thread that created the
// VM: waits until no thread is calling stop() (logging it when that takes a
// while), then destroys the VM, finishes the class archive (kept only when
// start() was invoked and returned normally) and closes the log. Returns true, or false when wait_for_cleanup gave up on it meanwhile
// and is ending the process.
bool release_application(run& r);

// Waits until start() has returned, then at most limits.cleanup for
// release_application to finish. When it does not, logs so and ends the
// process with APPLICATION_CLEANUP_TIMEOUT.
void wait_for_cleanup(run& r);

// The phase now.
run_phase current_phase(run& r);

// Ends the process at once with exit_code, without the normal road: the
// phase becomes ABANDONED, the log is closed, events.ended is told (the last
// thing the process does), then events.end_process.
void end_run_now(run& r, int exit_code);

// The VM ends the process itself: during its creation that is a failed
// creation; while destroyed, after the application ended, when it was
// writing the class archive that is taken for the cause (a full disk, say):
// the unfinished archive is removed and the run ends as it would have;
// otherwise the VM ends the process its own way, as when it gives up while
// the application runs (an archive it was to write is dropped then). An exit
// while the application runs is the application's end: the archive the VM
// wrote first is put in place if start() was invoked, the exit logged, then
// the process ends with 0 or APPLICATION_EXITED.
void vm_ends_run(run& r, int code, vm_end how);

// What the end of start() means for the service's exit code and the
// foreground process's exit status: 0 when start() returned normally,
// APPLICATION_NO_CLASS, APPLICATION_NO_START or APPLICATION_START_THREW, and
// -1 for any other result.
int application_exit_code(int start_result);

// The one end of a run that cannot go on, whatever stage the failure comes
// from: says its reason (on the console or as a log line, which a service
// also writes to its event log), logs "Terminated with exit code %d.",
// closes the log and ends the process with the failure's exit code.
[[noreturn]] void end_run_with(const run_failure& failure);

// Prepares the instance (prepare_instance) as both modes need it, making
// the plan, as far as it got, the run's. Returns the preparation's failure,
// which the mode ends the run with (end_run_with).
run_failure prepare_run(run& r, const char* instance_name);
