// The environment of a service instance: its base directory and instance
// folder, its log file and working directory, its Java installation, the
// assignments of the variables along which programs and native libraries are
// looked for, and the Java class path. Preparing it yields a plan
// (instance_plan.h) or a failure; nothing here ends the process.
#pragma once
#include "instance/instance_plan.h"
#include "platform/os_environment.h"

// Prepares the instance: finds the base directory above the executable's
// folder, claims the instance, opens its log file and logs there, makes the
// instance folder the current directory, takes the Java home from
// ZR_JAVA_HOME or JAVA_HOME, assembles the class path, reads the VM's options
// (jvm_options.h), the stop timeout (ZR_STOP_TIMEOUT) and the class archive's
// decision, and sets the search variables (PATH, ...) for the process,
// logging each of them and each VM option. Returns the plan, or the failure
// (exit code and reason, not logged yet) of the first condition it cannot go
// on from; the lines logged before it stay logged.
preparation prepare_instance(const char* instance_name);

// The longest stop timeout ZR_STOP_TIMEOUT may set, in seconds: a day.
enum { MOST_STOP_TIMEOUT = 86400 };

// True when the executable's full path has a base folder: a folder above the
// one that holds the executable. NO_BASE_FOLDER says why a path has none.
bool has_base_folder(const char* executable_path);
extern const char NO_BASE_FOLDER[];

// Cuts an executable's full path that has a base folder down to that folder,
// keeping its trailing separator.
void cut_to_base_folder(char* executable_path);

// A failure when folder holds the class path separator, which would split
// the class path and the search variables; what names the folder in it.
run_failure refuse_separator_in(const char* what, const std::string& folder);

// The seconds of a stop timeout text: a whole number from 1 to
// MOST_STOP_TIMEOUT, only digits. Returns -1 for any other text.
int parse_stop_timeout(const char* text);

// Sends the process's standard output and error, the VM's and the
// application's included, to zrsvc-stdout.txt beside the instance's log file,
// keeping the previous run's as zrsvc-stdout.1.txt. Runs after
// prepare_instance; does nothing without a log folder. When the log file
// could not be opened, the lines logged so far (log_keep_early_lines) go
// there, that failure among them.
void capture_std_streams(const instance_plan& plan);

// Takes a pair of enclosing double quotes off a Java home, then one trailing
// path separator. In place.
void normalise_java_home(char* java_home);

// Composes the assignment of a search variable: its folders, in order, below
// the Java home or the base directory (which ends with its separator), then,
// for a variable that keeps what it inherited, that value unless it is empty
// or null. Returns false when "NAME=value" would exceed 9999 characters.
bool compose_search_assignment(search_assignment* assignment, const os_search_variable& variable,
                               const std::string& java_home, const std::string& base_directory,
                               const char* inherited);

// Why a non-empty instance name is not one plain folder name below work;
// null when it is one.
const char* instance_name_fault(const char* name);

// Checks that a non-empty instance name is one plain folder name below work:
// not "." or "..", none of \ / : * ? " < > |, no control character, no
// trailing blank or dot, no name of a Windows device. Returns no failure, or
// one to be said on the console: "Invalid instance name '<name>': <why>",
// control characters shown escaped.
run_failure check_instance_name(const char* name);
