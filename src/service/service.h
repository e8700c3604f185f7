// Running an instance as a Windows service under the Service Control Manager.
#pragma once
#include "log/run_failure.h"

// The -service command: prepares the instance named by the service name and
// hands the main thread to the SCM dispatcher. Returns once the service has
// cleaned up and reported STOPPED; on the ends that do not wait for the
// application it never returns (the reporting thread ends the process with
// its exit code); fatal conditions, an instance name that is
// refused or an instance another run holds end the process with -1, their
// reason written to the event log too.
void run_service(const char* service_name);

// Ends a -service run that cannot go on before its instance is prepared as
// run_service's own fatal conditions end: the failure's reason also becomes
// the event log entry of service_name.
[[noreturn]] void end_service_with(const char* service_name, const run_failure& failure);

// Makes the fatal exit write its reason as an error entry of the event
// source service_name (registered by -install) as well.
void log_fatal_to_event_log(const char* service_name);

// The service's main function, run by the SCM on a thread of its own; the
// first argument is the service name.
void service_main(int argc, char** argv);

struct run;

// The service's run once the SCM has its handler: creates the VM, runs
// start(), then cleans up within the clean-up limit, reporting each stage;
// STOPPED is its last act.
void serve_run(run& r);

// Makes the run's events the service's reports (running, stop pending,
// stopped with its exit code) and its VM the host's.
void serve_run_events(run& r);

// The control handler, run on the main thread inside the dispatcher. A stop,
// a system preshutdown or shutdown calls the Java application's stop() on a thread of
// its own, so that the handler returns at once; every other control is
// ignored.
void control_handler(unsigned long control);

// The -console command: runs the instance in the foreground until the
// application ends or the user stops it with Ctrl+C. Returns the process's
// exit status: 0, the application's failure (application_exit_code, run.h), or 1
// for an instance name that is refused; the ends that do not wait for the
// application end the process with their own status (run.h).
int run_console(const char* instance_name);
