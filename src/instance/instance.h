// The environment of a service instance: its base directory and instance
// folder, its log file and working directory, its Java installation, the
// assignments of the variables along which programs and native libraries are
// looked for, and the Java class path.
#pragma once
#include "jvm/jvm_launch.h"
#include "platform/os_process.h"
#include "text/bounded_text.h"

// The longest stop timeout ZR_STOP_TIMEOUT may set, in seconds: a day.
enum { MOST_STOP_TIMEOUT = 86400 };

// Prepares the instance: finds the base directory above the executable's
// folder, claims the instance, opens its log file and logs there, makes the
// instance folder the current directory, takes the Java home from
// ZR_JAVA_HOME or JAVA_HOME, composes the class-path option and reads the
// VM's options (jvm_options.h) and the stop timeout (ZR_STOP_TIMEOUT) into
// launch, and sets the search variables (PATH, ...) for the process, logging
// each of them and each VM option. Returns 0, or -1 (logged) when a search
// assignment or the class-path option's frame does not fit. Conditions it
// cannot go on from (a refused conf/jvm.options or stop timeout among them)
// end the process (terminate).
int build_paths(const char* instance_name, jvm_launch* launch);

// True when the executable's full path has a base folder: a folder above the
// one that holds the executable. NO_BASE_FOLDER says why a path has none.
bool has_base_folder(const char* executable_path);
extern const char NO_BASE_FOLDER[];

// The seconds of a stop timeout text: a whole number from 1 to
// MOST_STOP_TIMEOUT, only digits. Returns -1 for any other text.
int parse_stop_timeout(const char* text);

// Adds every JAR file of the folder base_directory + folder_name (every file
// or link to a file whose name contains ".jar" in any case) to the class-path
// option (capacity LONG_TEXT_CAPACITY); such an entry that is no file to read (a FIFO, a dangling link) or
// whose name holds the class path separator is skipped with a line that says
// why. Returns 0, or -1 when the folder cannot be listed (logged).
// A class path that outgrows its buffer ends the process (terminate).
int scan_jar_folder(const char* base_directory, const char* folder_name, char* class_path_option);

// Takes a pair of enclosing double quotes off a Java home, then one trailing
// path separator. In place.
void normalise_java_home(char* java_home);

// Composes the assignment of a search variable into assignment (capacity
// LONG_TEXT_CAPACITY): its folders, in order, below the Java home or the base
// directory (which ends with its separator), then, for a variable that keeps
// what it inherited, that value unless it is empty or null. Returns 0, or -1
// (assignment emptied) when it does not fit.
int compose_search_assignment(char* assignment, const os_search_variable& variable, const char* java_home,
                              const char* base_directory, const char* inherited);

// Why a non-empty instance name is not one plain folder name below work;
// null when it is one.
const char* instance_name_fault(const char* name);

// Checks that a non-empty instance name is one plain folder name below work:
// not "." or "..", none of \ / : * ? " < > |, no control character, no
// trailing blank or dot, no name of a Windows device. Returns 0, or -1 after printing "Invalid instance
// name '<name>': <why>" on the console, control characters shown escaped.
int check_instance_name(const char* name);

// Claims the instance folder for this process's life, through the lock file
// zrsvc.lock in it. When another run holds it, says so on the console
// ("Instance '<name>' is already running") and ends the process with -1,
// having touched nothing, once the claim has stayed held for 3 seconds (the
// moment a service's process lasts after its stopped report). A missing
// instance folder is left to the working directory's change to report.
void claim_instance(const char* instance_folder, const char* instance_name);
