#include "instance/instance.h"

#include "instance/class_archive.h"
#include "instance/jvm_options.h"
#include "instance/path_text.h"
#include "log/instance_log.h"
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
    return parse_whole_number(text, MOST_STOP_TIMEOUT);
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
    // Refused limits still let the log say so, under the default ones.
    rolling_limits limits;
    char limits_failure[LONG_TEXT_CAPACITY];
    bool limits_refused = read_log_limits(&limits, limits_failure) != 0;
    open_instance_log(instance_folder, limits);

    log_format("Started %s", VERSION_TEXT);
    log_format("BASE PATH: '%s'", base);
    log_format("WORKING DIR PATH: '%s'", instance_folder);
    if (limits_refused) {
        log_line(limits_failure);
        terminate(-1);
    }
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
