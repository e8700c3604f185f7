// The steps of an instance's preparation (preparation.cpp), one file each.
// Each returns no failure, or the failure that ends the preparation (its
// reason not logged yet).
#pragma once
#include "instance/instance_plan.h"

#include <chrono>

// The executable's path cut down to the folder above the one that holds the
// executable, with its trailing separator: not when the executable's path
// cannot be read, does not fit, is not held by the code page, or has no such
// folder, nor when the base folder holds the class path separator.
run_failure read_base_folder(std::string* base);

// The instance folder, base + "work" + the instance name, refused when
// longer than Windows takes for a current directory.
run_failure compose_instance_folder(std::string* folder, const std::string& base, const char* instance_name);

// A service reports its end (STOPPED) as the very last thing it does; its
// process is gone moments later. A run started at once after that report
// finds the claim still held for that moment, and tries again for this long
// before it says the instance is running: far less than the time the SCM
// gives a new run to reach it (10 s under Wine, 30 s on Windows).
const std::chrono::seconds CLAIM_HELD_WAIT(3);

// Claims the instance folder for this process's life, through the lock file
// zrsvc.lock in it. When another run holds it for held_wait (a service's
// process lasts a moment after its stopped report), the failure says on the
// console "Instance '<name>' is already running: ...", nothing touched. A missing
// instance folder is left to the working directory's change to report.
run_failure claim_instance(const std::string& instance_folder, const char* instance_name,
                           std::chrono::milliseconds held_wait);

// The path of a file in the instance's log folder.
std::string log_folder_path(const std::string& instance_folder, const char* name);

// The limits of the log files, ZR_LOG_LIMIT_MB and ZR_LOG_KEEP, each its
// default when not set; a failure for any other value, limits then holding
// what the log is opened with to say so (the defaults for the one refused).
run_failure read_log_limits(rolling_limits* limits);

// Turns the log files of the runs before over under plan->log_limits, opens
// zrsvc-log.txt afresh and makes it the log sink; when the runs before
// cannot be kept apart, the new run goes on in it below a separator line,
// saying why. Without a log folder the sink stays standard output; a log file
// that cannot be opened is said where the run can still be heard and on
// standard output, and kept in plan->log_failure.
void open_log_file(instance_plan* plan);

// The Java home of ZR_JAVA_HOME, else JAVA_HOME, normalised and logged.
run_failure resolve_java_home(std::string* java_home);

// The assignments of the platform's search variables for the plan's Java
// home and base folder.
run_failure compose_search_assignments(instance_plan* plan);

// Logs each search assignment and sets its variable for the process.
void apply_search_assignments(const instance_plan& plan);

// Adds every JAR file of the folder base + folder_name (every file or link to
// a file whose name contains ".jar" in any case) to the class path; such an
// entry that is no file to read (a FIFO, a dangling link) or whose name holds
// the class path separator is skipped with a line that says why; a folder
// that cannot be listed is logged and passed over. A failure when the
// class-path option would exceed 9999 characters.
run_failure scan_jar_folder(const std::string& base, const char* folder_name, std::vector<std::string>* entries);

// The length of the class-path option of these entries.
size_t class_path_option_length(const std::vector<std::string>& entries);

// The stop timeout of ZR_STOP_TIMEOUT, 0 when it is not set.
run_failure read_stop_timeout(int* seconds);
