#include "instance/instance.h"

#include "instance/class_archive.h"
#include "instance/jvm_options.h"
#include "instance/path_text.h"
#include "log/log.h"
#include "platform/os_console.h"
#include "platform/os_process.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <initializer_list>

// For each of OS_SEARCH_VARIABLES, in its order, "NAME=" and the variable's
// new value.
static char g_search_assignments[OS_SEARCH_VARIABLE_LIMIT][LONG_TEXT_CAPACITY];
static char g_class_path_option[LONG_TEXT_CAPACITY];

static const char VERSION_TEXT[] = "ZR NTService 1.0";

const char NO_BASE_FOLDER[] = "lies in no folder below a base folder: it must be <base>\\bin\\zrsvc.exe or in "
                              "another folder of the base folder";

bool has_base_folder(const char* executable_path)
{
    const char* last = strrchr(executable_path, OS_PATH_SEPARATOR);
    if (last == nullptr)
        return false;
    for (const char* at = executable_path; at < last; ++at)
        if (*at == OS_PATH_SEPARATOR)
            return true;
    return false;
}

// The class path and the search variables are lists split at the separator:
// a folder that holds it would be split in two and none of its JARs found.
static void refuse_separator_in(const char* what, const char* folder)
{
    if (strchr(folder, OS_CLASS_PATH_SEPARATOR) == nullptr)
        return;
    log_format("%s '%s' holds '%c', the class path separator: its paths would be split there", what, folder,
               OS_CLASS_PATH_SEPARATOR);
    terminate(-1);
}

// The executable's path cut down to the folder above the one that holds the
// executable, keeping its trailing separator. Ends the process when the
// executable's path cannot be read, does not fit, is not held by the code
// page, or has no such folder, and when the base folder holds the class path
// separator.
static void read_base_directory(char* base)
{
    int length = os_module_path(base, PATH_CAPACITY);
    if (length == -1) {
        log_line("Executable path too long: more than 259 characters");
        terminate(-1);
    }
    if (length == -2) {
        log_format("Executable path '%s' holds characters that the ANSI code page %u cannot hold", base,
                   os_text_code_page());
        terminate(-1);
    }
    if (length == 0)
        terminate(-1);
    if (!has_base_folder(base)) {
        log_format("The executable '%s' %s", base, NO_BASE_FOLDER);
        terminate(-1);
    }
    *strrchr(base, OS_PATH_SEPARATOR) = '\0';
    strrchr(base, OS_PATH_SEPARATOR)[1] = '\0';
    refuse_separator_in("Base folder", base);
}

// The longest instance folder: Windows makes a folder the current directory
// by a path of at most 258 characters (a separator is added behind it).
enum { INSTANCE_FOLDER_MOST = PATH_CAPACITY - 2 };

// The instance folder, base + "work" + the instance name. A path that does not
// fit ends the process: an emptied or partial path would lead elsewhere.
static void compose_instance_folder(char* folder, const char* base, const char* instance_name)
{
    folder[0] = '\0';
    if (append_pieces(folder, INSTANCE_FOLDER_MOST + 1, {base, "work", path_separator(), instance_name}) != 0) {
        log_format("Instance folder path too long for instance '%s': more than %d characters", instance_name,
                   static_cast<int>(INSTANCE_FOLDER_MOST));
        terminate(-1);
    }
}

// Room for the instance folder's path and the longest name below it.
enum { LOG_PATH_CAPACITY = PATH_CAPACITY + sizeof "\\log\\zrsvc-stdout.1.txt" };

// The path of a file in the instance's log folder; it always fits.
static void compose_log_folder_path(char* path, const char* instance_folder, const char* name)
{
    bounded_copy(path, LOG_PATH_CAPACITY, instance_folder);
    append_pieces(path, LOG_PATH_CAPACITY, {path_separator(), "log", path_separator(), name});
}

// Renames the previous run's file of the log folder to its ".1" name, so that
// a start does not wipe the record of the run before it (a crash's, say).
// Returns 0, or the operating system's error code when it could not be kept.
static int keep_previous_run(const char* instance_folder, const char* name, const char* previous_name)
{
    char path[LOG_PATH_CAPACITY];
    char previous[LOG_PATH_CAPACITY];
    compose_log_folder_path(path, instance_folder, name);
    compose_log_folder_path(previous, instance_folder, previous_name);
    return os_replace_file(path, previous) < 0 ? static_cast<int>(os_last_error()) : 0;
}

// Where a run goes on in a file it could not keep apart from the run before.
static const char SEPARATOR_LINE[] = "----------------------------------------";

// The instance folder, for the files of its log folder; and why its log file
// could not be opened, empty when it was.
static char g_instance_folder[PATH_CAPACITY];
static char g_log_failure[LONG_TEXT_CAPACITY];

// Says on the console that the run keeps no log, and where a log folder
// would make one; a missing instance folder is said by the working
// directory's change instead.
static void say_no_log_folder(const char* instance_folder)
{
    os_stamp stamp;
    const char* failed_call = "";
    if (os_file_stamp(instance_folder, true, &stamp, &failed_call) == 1)
        return;
    printf("No log file: the instance folder has no log folder; create '%s%slog' to keep the run's log\n",
           instance_folder, path_separator());
}

// Starts the log file of the instance afresh and makes it the log sink; when
// the previous run's log cannot be kept apart, the new run goes on in it
// below a separator line instead. Without a log folder the sink stays
// standard output; a log file that cannot be opened is said where the run can
// still be heard (log_cannot_log) and on standard output, the sink.
static void open_log_file(const char* instance_folder)
{
    bounded_copy(g_instance_folder, sizeof g_instance_folder, instance_folder);
    char log_path[LOG_PATH_CAPACITY];
    compose_log_folder_path(log_path, instance_folder, "zrsvc-log.txt");
    int kept = keep_previous_run(instance_folder, "zrsvc-log.txt", "zrsvc-log.1.txt");
    FILE* file = kept == 0 ? os_open_text_for_writing(log_path) : os_open_text_for_appending(log_path);
    if (file != nullptr) {
        printf("LOG FILE: '%s'\n", log_path);
        log_to_file(file);
    } else if (os_error_number(os_last_error()) == ENOENT) {
        say_no_log_folder(instance_folder);
    } else if (os_error_number(os_last_error()) == ELOOP) {
        snprintf(g_log_failure, sizeof g_log_failure, "Cannot open the log file '%s': it is a link, which is never "
                 "followed", log_path);
    } else if (os_error_number(os_last_error()) != ENOENT) {
        snprintf(g_log_failure, sizeof g_log_failure, "Cannot open the log file '%s': %lu", log_path,
                 os_last_error());
    }
    if (file == nullptr && g_log_failure[0] != '\0') {
        log_cannot_log(g_log_failure);
        log_line(g_log_failure);
    }
    if (kept != 0) {
        log_line(SEPARATOR_LINE);
        log_format("Cannot keep the previous log as zrsvc-log.1.txt: %d", kept);
    }
}

void capture_std_streams()
{
    // Without a log folder nothing of the run is kept.
    if (!log_sink_is_file() && g_log_failure[0] == '\0')
        return;
    int kept = keep_previous_run(g_instance_folder, "zrsvc-stdout.txt", "zrsvc-stdout.1.txt");
    if (kept != 0)
        log_format("Cannot keep the previous output as zrsvc-stdout.1.txt: %d", kept);
    char path[LOG_PATH_CAPACITY];
    compose_log_folder_path(path, g_instance_folder, "zrsvc-stdout.txt");
    int error = os_redirect_std_streams(path, kept != 0);
    if (error != 0)
        log_format("Cannot send standard output and error to zrsvc-stdout.txt: %d", error);
    else if (kept != 0)
        printf("%s\n", SEPARATOR_LINE);
    // The only record of the run then.
    if (error == 0 && g_log_failure[0] != '\0')
        log_cannot_log(g_log_failure);
}

void normalise_java_home(char* java_home)
{
    size_t length = strlen(java_home);
    if (length >= 2 && java_home[0] == '"' && java_home[length - 1] == '"') {
        length -= 2;
        memmove(java_home, java_home + 1, length);
        java_home[length] = '\0';
    }
    if (length > 0 && java_home[length - 1] == OS_PATH_SEPARATOR)
        java_home[length - 1] = '\0';
}

// ZR_JAVA_HOME wins over JAVA_HOME whenever it is set, even when its value
// turns out unusable. Ends the process when there is no usable value.
static const char* resolve_java_home()
{
    const char* value = os_getenv("ZR_JAVA_HOME");
    if (value == nullptr)
        value = os_getenv("JAVA_HOME");
    if (value == nullptr) {
        log_line("Neither ZR_JAVA_HOME nor JAVA_HOME environment variable was set !");
        terminate(-1);
    }
    char* java_home = strdup(value);
    if (java_home == nullptr) {
        log_line("strdup() failed");
        terminate(-1);
    }
    // Measured before the quotes come off: "\" passes and ends empty.
    if (strlen(java_home) < 3) {
        log_line("Invalid ZR_JAVA_HOME or JAVA_HOME environment variable !");
        terminate(-1);
    }
    const char* name = os_getenv("ZR_JAVA_HOME") != nullptr ? "ZR_JAVA_HOME" : "JAVA_HOME";
    if (!os_getenv_is_exact(name)) {
        log_format("%s '%s' holds characters that the ANSI code page %u cannot hold", name, java_home,
                   os_text_code_page());
        terminate(-1);
    }
    normalise_java_home(java_home);
    log_format("JAVA_HOME: '%s'", java_home);
    refuse_separator_in("Java home", java_home);
    return java_home;
}

int compose_search_assignment(char* assignment, const os_search_variable& variable, const char* java_home,
                              const char* base_directory, const char* inherited)
{
    // Entries of a search variable are separated as those of the class path.
    const char* list_separator = class_path_separator();
    assignment[0] = '\0';
    int error = append_pieces(assignment, LONG_TEXT_CAPACITY, {variable.name, "="});
    for (const os_search_folder* folder = variable.folders; error == 0 && folder->path != nullptr; ++folder) {
        const char* separator = folder == variable.folders ? "" : list_separator;
        if (folder->root == OS_BELOW_JAVA_HOME)
            error = append_pieces(assignment, LONG_TEXT_CAPACITY,
                                  {separator, java_home, path_separator(), folder->path});
        else
            error = append_pieces(assignment, LONG_TEXT_CAPACITY, {separator, base_directory, folder->path});
    }
    // No separator before an empty value: an empty entry stands for the
    // current directory, the instance folder, which the application writes to.
    if (error == 0 && variable.keeps_inherited && inherited != nullptr && inherited[0] != '\0')
        error = append_pieces(assignment, LONG_TEXT_CAPACITY, {list_separator, inherited});
    return error == 0 ? 0 : -1;
}

// Composes the assignment of each of the platform's search variables from the
// value it inherited, or the system's default for it when it is not set.
// Returns 0, or -1 (logged) when one does not fit.
static int compose_search_assignments(const char* java_home, const char* base)
{
    for (int i = 0; OS_SEARCH_VARIABLES[i].name != nullptr; ++i) {
        const os_search_variable& variable = OS_SEARCH_VARIABLES[i];
        const char* inherited = os_getenv(variable.name);
        if (inherited == nullptr)
            inherited = os_search_default(variable.name);
        if (compose_search_assignment(g_search_assignments[i], variable, java_home, base, inherited) != 0) {
            log_format("%s too long: with the instance's folders it exceeds 9999 characters", variable.name);
            return -1;
        }
    }
    return 0;
}

int parse_stop_timeout(const char* text)
{
    int seconds = 0;
    for (const char* at = text; *at != '\0'; ++at) {
        if (*at < '0' || *at > '9')
            return -1;
        seconds = seconds * 10 + (*at - '0');
        if (seconds > MOST_STOP_TIMEOUT)
            return -1;
    }
    return seconds >= 1 ? seconds : -1;
}

// The stop timeout of ZR_STOP_TIMEOUT, 0 when it is not set; any value
// parse_stop_timeout refuses ends the process.
static int read_stop_timeout()
{
    const char* value = os_getenv("ZR_STOP_TIMEOUT");
    if (value == nullptr)
        return 0;
    int seconds = parse_stop_timeout(value);
    if (seconds < 0) {
        log_format("Invalid ZR_STOP_TIMEOUT '%s': a whole number of seconds from 1 to %d is expected", value,
                   MOST_STOP_TIMEOUT);
        terminate(-1);
    }
    return seconds;
}

// Logs each search assignment and sets its variable for the process, so that
// the VM and the application find them.
static void apply_search_assignments()
{
    for (int i = 0; OS_SEARCH_VARIABLES[i].name != nullptr; ++i) {
        const char* name = OS_SEARCH_VARIABLES[i].name;
        log_format("JVM '%s'", g_search_assignments[i]);
        if (os_setenv(name, g_search_assignments[i] + strlen(name) + 1) != 0)
            log_format("Cannot set %s: %lu", name, os_last_error());
    }
}

int build_paths(const char* instance_name, jvm_launch* launch)
{
    char base[PATH_CAPACITY];
    read_base_directory(base);
    char instance_folder[PATH_CAPACITY];
    compose_instance_folder(instance_folder, base, instance_name);
    // Before anything of the instance is touched: another run may hold it.
    claim_instance(instance_folder, instance_name);
    open_log_file(instance_folder);

    log_format("Started %s", VERSION_TEXT);
    log_format("BASE PATH: '%s'", base);
    log_format("WORKING DIR PATH: '%s'", instance_folder);
    if (os_set_current_dir(instance_folder) != 0) {
        unsigned long error = os_last_error();
        if (os_error_number(error) == ENOENT)
            log_format("Cannot change working dir: %lu: the instance folder '%s' does not exist; create it, with "
                       "its log and conf folders", error, instance_folder);
        else
            log_format("Cannot change working dir: %lu: '%s'", error, instance_folder);
        terminate(-1);
    }
    launch->java_home = resolve_java_home();
    if (compose_search_assignments(launch->java_home, base) != 0)
        return -1;

    g_class_path_option[0] = '\0';
    if (bounded_append(g_class_path_option, LONG_TEXT_CAPACITY, "-Djava.class.path=") != 0)
        return -1;
    for (const char* folder : {"bin", "lib", "jdbc"})
        scan_jar_folder(base, folder, g_class_path_option);
    // The class path's last entry, relative: the instance folder's conf.
    if (bounded_append(g_class_path_option, LONG_TEXT_CAPACITY, "conf") != 0) {
        log_line("Class path too long: no room for its last entry 'conf' within 9999 characters");
        return -1;
    }
    launch->options[0] = g_class_path_option;
    launch->option_count = 1;
    if (read_jvm_options(instance_folder, launch) != 0)
        terminate(-1);
    launch->stop_timeout = read_stop_timeout();
    plan_class_archive(launch);
    apply_search_assignments();
    for (int i = 0; i < launch->option_count; ++i)
        log_format("JVM '%s'", launch->options[i]);
    return 0;
}
