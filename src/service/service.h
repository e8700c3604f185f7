// Running an instance as a Windows service under the Service Control Manager.
#pragma once

// The -service command: prepares the instance named by the service name and
// hands the main thread to the SCM dispatcher. Returns once the service has
// stopped; fatal conditions end the process with -1.
void run_service(const char* service_name);

// The service's main function, run by the SCM on a thread of its own; the
// first argument is the service name.
void service_main(int argc, char** argv);
