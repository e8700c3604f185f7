#include "instance/class_archive.h"

#include "instance/java_release.h"
#include "instance/path_text.h"
#include "log/log.h"
#include "platform/os_library.h"
#include "platform/os_process.h"
#include "platform/os_vm_files.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>

static const char ARCHIVE[] = "zrsvc.jsa";
static const char RECORD[] = "zrsvc.jsa.txt";
// The run's own folder that the VM writes the archive into.
static const char DUMP_FOLDER_PREFIX[] = "zrsvc.jsa.tmp";
// While dumping, the VM warns once per class it cannot archive (old class
// files): one line each, thousands for some JARs.
static const char QUIET_OPTION[] = "-Xlog:cds*=off";
static const char RECORD_KIND[] = "zrsvc class archive 2";
// The environment variables whose options the VM takes besides its own.
static const char* const OPTION_VARIABLES[] = {"JAVA_TOOL_OPTIONS", "_JAVA_OPTIONS"};

// The record's second line says what the run before left: "archive" and the
// archive's stamp; "none" and why the next run renews it; "failed" and how
// the VM failed with these inputs, for which the next runs stand aside.
static const char STATE_ARCHIVE[] = "archive ";
static const char STATE_NONE[] = "none ";
static const char STATE_FAILED[] = "failed ";
static const char CREATION_FAILED[] = "the VM could not be created while asked to write it";

// A record holds a line per class-path entry and per option: room for the
// longest class path (10,000 characters) and jvm.options (64 KiB) with
// their stamps.
enum { RECORD_CAPACITY = 512 * 1024, ENVIRONMENT_OPTIONS_MOST = 256 };
// The first Java whose VM takes -XX:ArchiveClassesAtExit (dynamic archives).
enum { ARCHIVE_JAVA_LEAST = 13 };

// What the run's archive is made from, one line each, and the JARs' total
// size. Built by plan_class_archive on the main thread before the VM exists,
// only read afterwards.
static char g_inputs[RECORD_CAPACITY];
static size_t g_inputs_length = 0;
static unsigned long long g_jar_bytes = 0;
// The options the VM is given for the archive, and what they lead to.
// Paths the VM is given are short: the archive's name, its folder's, or one
// of /proc/self/fd.
enum { VM_PATH_CAPACITY = 64, VM_OPTION_CAPACITY = 128 };
static char g_map_option[VM_OPTION_CAPACITY];
static char g_dump_option[VM_OPTION_CAPACITY];
static char g_dump_path[VM_PATH_CAPACITY];
static os_stamp g_mapped_stamp;
static bool g_mapping = false;
static os_private_folder* g_dump_folder = nullptr;
// Whether the VM is to write an archive: set by plan_class_archive, taken
// by finish_class_archive or fail_class_archive, the latter maybe on a
// thread of the VM while the destruction waits for it.
static std::atomic<bool> g_dumping{false};

static void stamp_text(char* text, size_t capacity, const os_stamp& stamp)
{
    snprintf(text, capacity, "%llu %llu %llu %llu %llu", stamp.size, stamp.modified, stamp.changed, stamp.volume,
             stamp.index);
}

// Adds a line to the run's inputs. Returns 0, or -1 after logging that it
// does not fit.
static int add_input(const char* format, ...) __attribute__((format(printf, 1, 2)));
static int add_input(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    size_t room = RECORD_CAPACITY - g_inputs_length;
    int length = vsnprintf(g_inputs + g_inputs_length, room, format, arguments);
    va_end(arguments);
    if (length < 0 || static_cast<size_t>(length) >= room) {
        log_format("Class archive not used: its record would exceed %d bytes", RECORD_CAPACITY);
        return -1;
    }
    g_inputs_length += static_cast<size_t>(length);
    return 0;
}

// Adds the line "<kind> <stamp> <path>" of a file, followed through links as
// the VM follows them. Returns 0, or -1 after logging why the file cannot be
// stamped or the line does not fit.
static int add_stamp(const char* kind, const char* path)
{
    os_stamp stamp;
    const char* failed_call = "";
    if (os_file_stamp(path, true, &stamp, &failed_call) != 0) {
        log_format("Class archive not used: %s('%s') failed: %lu", failed_call, path, os_last_error());
        return -1;
    }
    if (strcmp(kind, "jar") == 0)
        g_jar_bytes += stamp.size;
    char text[128];
    stamp_text(text, sizeof text, stamp);
    return add_input("%s %s %s\n", kind, text, path);
}

// Adds the options of the environment's variables, as the VM reads them, to
// the inputs, unless one makes the archive stand aside. Returns 0, or -1
// (logged).
static int add_environment_options()
{
    for (const char* variable : OPTION_VARIABLES) {
        const char* value = os_getenv(variable);
        if (value == nullptr)
            continue;
        static char buffer[LONG_TEXT_CAPACITY];
        const char* options[ENVIRONMENT_OPTIONS_MOST];
        int count = split_vm_options_variable(value, buffer, sizeof buffer, options, ENVIRONMENT_OPTIONS_MOST);
        if (count < 0) {
            log_format("Class archive not used: %s cannot be read as the VM reads it (%s)", variable,
                       count == -1 ? "a quote without its match" : "too long");
            return -1;
        }
        for (int i = 0; i < count; ++i) {
            if (const char* why = archive_aside_reason(options[i])) {
                log_format("Class archive not used: %s sets '%s'%s", variable, options[i], why);
                return -1;
            }
            if (add_input("%s %s\n", variable, options[i]) != 0)
                return -1;
        }
    }
    return 0;
}

// Composes the run's inputs: the Java home, the VM library, each JAR of the
// class path (every entry but the last, conf), each option after it, and
// those of the environment. Returns 0, or -1 (logged).
static int compose_inputs(const jvm_launch& launch)
{
    g_inputs_length = 0;
    g_jar_bytes = 0;
    char library[PATH_CAPACITY];
    if (add_input("java-home %s\n", launch.java_home) != 0)
        return -1;
    if (bounded_copy(library, sizeof library, launch.java_home) != 0 ||
        bounded_append(library, sizeof library, OS_JVM_LIBRARY) != 0) {
        log_line("Class archive not used: the Java home's path is too long");
        return -1;
    }
    if (add_stamp("vm", library) != 0)
        return -1;
    const char* entry = strchr(launch.options[0], '=') + 1;
    for (const char* end; (end = strchr(entry, OS_CLASS_PATH_SEPARATOR)) != nullptr; entry = end + 1) {
        char path[LONG_TEXT_CAPACITY];
        snprintf(path, sizeof path, "%.*s", static_cast<int>(end - entry), entry);
        if (add_stamp("jar", path) != 0)
            return -1;
    }
    for (int i = 1; i < launch.option_count; ++i)
        if (add_input("option %s\n", launch.options[i]) != 0)
            return -1;
    return add_environment_options();
}

// Writes the record of the run's inputs with the state line state and
// detail. Returns 0, or -1 (logged, the record removed).
static int write_record(const char* state, const char* detail)
{
    FILE* file = os_open_text_for_writing(RECORD);
    bool written = file != nullptr && fprintf(file, "%s\n%s%s\n%.*s", RECORD_KIND, state, detail,
                                              static_cast<int>(g_inputs_length), g_inputs) >= 0;
    if (file != nullptr && fclose(file) != 0)
        written = false;
    if (!written) {
        log_format("Cannot write the class archive's record %s: %lu", RECORD, os_last_error());
        os_remove_file(RECORD);
        return -1;
    }
    return 0;
}

// Why a record's inputs (found) differ from the run's, judged by the first
// line that differs; null when they are the same.
static const char* inputs_difference(const char* found, char* reason, size_t capacity)
{
    const char* expected = g_inputs;
    const char* expected_end = g_inputs + g_inputs_length;
    while (*found != '\0' && expected < expected_end && *found == *expected) {
        ++found;
        ++expected;
    }
    if (*found == '\0' && expected == expected_end)
        return nullptr;
    while (expected > g_inputs && expected[-1] != '\n') {
        --expected;
        --found;
    }
    // A JAR more or less: a JAR's line stands where another line stood.
    bool expected_jar = expected < expected_end && strncmp(expected, "jar ", 4) == 0;
    if (expected_jar != (strncmp(found, "jar ", 4) == 0))
        return "the class path changed";
    // A record with more lines than the run's: its first extra line tells.
    const char* line = expected < expected_end ? expected : found;
    if (strncmp(line, "java-home ", 10) == 0)
        return "the Java home changed";
    if (strncmp(line, "vm ", 3) == 0)
        return "the VM library changed";
    if (strncmp(line, "option ", 7) == 0)
        return "the options of jvm.options changed";
    for (const char* variable : OPTION_VARIABLES)
        if (strncmp(line, variable, strlen(variable)) == 0 && line[strlen(variable)] == ' ') {
            snprintf(reason, capacity, "the options of %s changed", variable);
            return reason;
        }
    if (strncmp(line, "jar ", 4) != 0)
        return "its record is not of this run";
    // The path follows the five numbers of the stamp.
    const char* path = line + 4;
    for (int field = 0; field < 5 && strchr(path, ' ') != nullptr; ++field)
        path = strchr(path, ' ') + 1;
    snprintf(reason, capacity, "the JAR '%.*s' changed", static_cast<int>(strcspn(path, "\n")), path);
    return reason;
}

// What the record and the archive say about the run.
enum archive_verdict { ARCHIVE_MAP, ARCHIVE_RENEW, ARCHIVE_ASIDE };

// Reads the record and judges the archive of stamp (null: there is none):
// ARCHIVE_MAP, ARCHIVE_RENEW with reason ("" when there is none) or
// ARCHIVE_ASIDE (logged).
static archive_verdict judge_record(const os_stamp* stamp, const char** reason, char* detail, size_t capacity)
{
    static char found[RECORD_CAPACITY];
    size_t length = 0;
    const char* failed_call = "";
    int read = os_read_file(RECORD, found, sizeof found - 1, &length, &failed_call);
    *reason = stamp == nullptr ? "" : "its record zrsvc.jsa.txt cannot be read";
    if (read != 0)
        return ARCHIVE_RENEW;
    size_t kept = 0;
    for (size_t i = 0; i < length; ++i)
        if (found[i] != '\r')
            found[kept++] = found[i];
    found[kept] = '\0';
    size_t kind_length = strlen(RECORD_KIND);
    char* state = found + kind_length + 1;
    char* inputs = strncmp(found, RECORD_KIND, kind_length) == 0 && found[kind_length] == '\n' ? strchr(state, '\n')
                                                                                               : nullptr;
    if (inputs == nullptr) {
        *reason = stamp == nullptr ? "" : "its record is not of this run";
        return ARCHIVE_RENEW;
    }
    *inputs++ = '\0';
    if (const char* difference = inputs_difference(inputs, detail, capacity)) {
        *reason = difference;
        return ARCHIVE_RENEW;
    }
    if (strncmp(state, STATE_FAILED, strlen(STATE_FAILED)) == 0) {
        // The message buffer refuses a forged state too long for a line.
        log_format("Class archive not used: %s in a run before with this Java home, class path and options; "
                   "remove %s to try again",
                   state + strlen(STATE_FAILED), RECORD);
        return ARCHIVE_ASIDE;
    }
    if (stamp == nullptr)
        return ARCHIVE_RENEW;
    if (strncmp(state, STATE_NONE, strlen(STATE_NONE)) == 0) {
        bool fits = bounded_copy(detail, capacity, state + strlen(STATE_NONE)) == 0;
        *reason = fits ? detail : "its record is not of this run";
        return ARCHIVE_RENEW;
    }
    char expected[128] = "";
    stamp_text(expected, sizeof expected, *stamp);
    if (strncmp(state, STATE_ARCHIVE, strlen(STATE_ARCHIVE)) == 0 && strcmp(state + strlen(STATE_ARCHIVE), expected) == 0)
        return ARCHIVE_MAP;
    *reason = "the archive is not the one its record describes";
    return ARCHIVE_RENEW;
}

// Inserts the option behind the class path.
static void put_option(jvm_launch* launch, const char* option)
{
    memmove(&launch->options[2], &launch->options[1], sizeof launch->options[0] * (launch->option_count - 1));
    launch->options[1] = option;
    ++launch->option_count;
}

// The free space the VM's archive needs, besides what the application may
// need: Debian's guava, guice, commons-lang3 and commons-io (4.7 MB) gave a
// 17 MB archive, most of their classes loaded.
enum { FREE_SPACE_MARGIN = 64 * 1024 * 1024, ARCHIVE_PER_JAR_BYTE = 4 };

// Returns 0 when the instance folder's volume clearly has room for the
// archive, else -1 (logged).
static int check_free_space()
{
    unsigned long long free_bytes = 0;
    const char* failed_call = "";
    if (os_free_space(".", &free_bytes, &failed_call) != 0) {
        log_format("Class archive not used: %s('.') failed: %lu", failed_call, os_last_error());
        return -1;
    }
    unsigned long long needed = FREE_SPACE_MARGIN + ARCHIVE_PER_JAR_BYTE * g_jar_bytes;
    if (free_bytes >= needed)
        return 0;
    log_format("Class archive not used: the instance folder's volume has %llu MiB free space, less than the %llu "
               "MiB it may need",
               free_bytes >> 20, (needed + (1 << 20) - 1) >> 20);
    return -1;
}

// Makes the run's own folder for the VM's archive and composes the option
// that has the VM write it there. Returns 0, or -1 (logged).
static int prepare_dump()
{
    char folder[VM_PATH_CAPACITY - sizeof ARCHIVE - 1];
    const char* failed_call = "";
    g_dump_folder = os_make_private_folder(DUMP_FOLDER_PREFIX, folder, sizeof folder, &failed_call);
    if (g_dump_folder == nullptr) {
        log_format("Class archive not used: the instance folder cannot be written: %s('%s...') failed: %lu",
                   failed_call, DUMP_FOLDER_PREFIX, os_last_error());
        return -1;
    }
    snprintf(g_dump_path, sizeof g_dump_path, "%s%s%s", folder, path_separator(), ARCHIVE);
    snprintf(g_dump_option, sizeof g_dump_option, "-XX:ArchiveClassesAtExit=%s", g_dump_path);
    return 0;
}

static void log_in_the_way(const char* name)
{
    log_format("Class archive not used: '%s' in the instance folder is in its way: it is no regular file (a "
               "folder, a link, a FIFO)",
               name);
}

// Whether the record's name is taken by anything but a regular file, which
// stands the archive aside (logged). The archive's name is checked as it
// is held.
static bool record_in_the_way()
{
    os_stamp stamp;
    const char* failed_call = "";
    if (os_file_stamp(RECORD, false, &stamp, &failed_call) != 0 || stamp.regular)
        return false;
    log_in_the_way(RECORD);
    return true;
}

// The checks that stand the archive aside before its inputs are stamped:
// the setting, the options of jvm.options, the Java's version, conf's class
// files, a record that is no regular file. Returns true when it stands aside (logged).
static bool stands_aside(const jvm_launch& launch)
{
    const char* setting = os_getenv("ZR_CLASS_ARCHIVE");
    int on = setting == nullptr ? 1 : parse_class_archive_setting(setting);
    if (on < 0) {
        log_format("Invalid ZR_CLASS_ARCHIVE '%s': on or off is expected", setting);
        terminate(-1);
    }
    if (on == 0) {
        log_line("Class archive not used: ZR_CLASS_ARCHIVE is off");
        return true;
    }
    for (int i = 1; i < launch.option_count; ++i)
        if (const char* why = archive_aside_reason(launch.options[i])) {
            log_format("Class archive not used: jvm.options sets '%s'%s", launch.options[i], why);
            return true;
        }
    // An older VM would refuse the archive's options and not be created.
    int version = java_feature_version(launch.java_home);
    if (version != 0 && version < ARCHIVE_JAVA_LEAST) {
        log_format("Class archive not used: the Java home holds Java %d (its release file); the archive needs "
                   "Java %d or later", version, ARCHIVE_JAVA_LEAST);
        return true;
    }
    char conf[PATH_CAPACITY] = "conf";
    conf_finding finding = find_class_file(conf);
    if (finding == CONF_CLASS)
        log_format("Class archive not used: the VM cannot archive classes of the conf folder ('%s')", conf);
    if (finding == CONF_TOO_LARGE)
        log_format("Class archive not used: the conf folder is too large or too deep to be searched for class "
                   "files, which the VM cannot archive (at '%s')",
                   conf);
    return finding != CONF_NO_CLASS || record_in_the_way();
}

// The archive held for the VM to map, from the plan on.
static os_vm_file* g_held_archive = nullptr;

// Holds the archive for the VM to map and composes its option. Returns 0,
// 1 when there is none, or -1 when it stands aside (logged).
static int hold_archive()
{
    char path[VM_PATH_CAPACITY];
    int result = 0;
    const char* failed_call = "";
    g_held_archive = os_hold_vm_file(ARCHIVE, path, sizeof path, &g_mapped_stamp, &result, &failed_call);
    if (result == 2)
        log_in_the_way(ARCHIVE);
    if (result < 0)
        log_format("Class archive not used: %s('%s') failed: %lu", failed_call, ARCHIVE, os_last_error());
    if (g_held_archive == nullptr)
        return result == 1 ? 1 : -1;
    snprintf(g_map_option, sizeof g_map_option, "-XX:SharedArchiveFile=%s", path);
    return 0;
}

void plan_class_archive(jvm_launch* launch)
{
    g_dumping = false;
    g_mapping = false;
    if (stands_aside(*launch))
        return;
    // What a run that ended before putting its archive in place left.
    os_remove_stale_private_folders(DUMP_FOLDER_PREFIX);
    if (compose_inputs(*launch) != 0)
        return;
    int held = hold_archive();
    if (held < 0)
        return;
    char detail[LONG_TEXT_CAPACITY];
    const char* reason = "";
    archive_verdict verdict = judge_record(held == 0 ? &g_mapped_stamp : nullptr, &reason, detail, sizeof detail);
    if (verdict == ARCHIVE_ASIDE)
        return;
    if (verdict == ARCHIVE_MAP) {
        g_mapping = true;
        put_option(launch, g_map_option);
        log_format("Class archive %s to be mapped: made from this Java home, class path and options", ARCHIVE);
        return;
    }
    // Held, it could not be replaced.
    os_release_vm_file(g_held_archive);
    g_held_archive = nullptr;
    if (check_free_space() != 0 || prepare_dump() != 0)
        return;
    put_option(launch, QUIET_OPTION);
    put_option(launch, g_dump_option);
    g_dumping = true;
    if (reason[0] == '\0')
        log_format("Class archive %s to be created when the VM ends: there is none", ARCHIVE);
    else
        log_format("Class archive %s to be renewed when the VM ends: %s", ARCHIVE, reason);
}

void class_archive_vm_created()
{
    if (!g_mapping)
        return;
    int mapped = os_file_is_mapped(g_mapped_stamp);
    if (mapped == 1)
        log_format("Class archive %s used: the VM mapped it", ARCHIVE);
    if (mapped == 0) {
        log_format("Class archive %s not used: the VM did not map it; the next run renews it", ARCHIVE);
        write_record(STATE_NONE, "the VM did not map it in the run before");
    }
}

bool class_archive_dumping()
{
    return g_dumping.load();
}

// Removes what the VM wrote, logs why the archive was not written, and
// records state and detail for the next run.
static void discard_dump(const char* reason, const char* state, const char* detail)
{
    log_format("Class archive %s not written: %s", ARCHIVE, reason);
    os_remove_private_folder(g_dump_folder);
    g_dump_folder = nullptr;
    write_record(state, detail);
}

void class_archive_vm_not_created()
{
    if (g_dumping.exchange(false))
        discard_dump("the VM was not created; the next runs stand aside until the Java home, class path or options "
                     "change",
                     STATE_FAILED, CREATION_FAILED);
}

void fail_class_archive(const char* reason)
{
    if (g_dumping.exchange(false))
        discard_dump(reason, STATE_FAILED, "the VM gave up while writing it");
}

void finish_class_archive(bool destroyed, bool application_ran)
{
    // Taken once: the VM's exit hook and the clean-up may both get here.
    if (!g_dumping.exchange(false))
        return;
    if (!application_ran) {
        discard_dump("the application did not run", STATE_NONE, "the application did not run in the run before");
        return;
    }
    if (!destroyed) {
        discard_dump("the VM was not destroyed cleanly", STATE_NONE,
                     "the VM was not destroyed cleanly in the run before");
        return;
    }
    os_stamp stamp;
    const char* failed_call = "";
    if (os_file_stamp(g_dump_path, false, &stamp, &failed_call) != 0 || !stamp.regular || stamp.size == 0) {
        discard_dump("the VM wrote none", STATE_NONE, "the VM wrote none in the run before");
        return;
    }
    // The record goes first: a run that finds an archive without a record
    // matching it renews it. The rename replaces a link in the archive's
    // place, never what it leads to.
    os_remove_file(RECORD);
    if (os_replace_file(g_dump_path, ARCHIVE) != 0) {
        char reason[2 * VM_PATH_CAPACITY];
        snprintf(reason, sizeof reason, "rename('%s', '%s') failed: %lu", g_dump_path, ARCHIVE, os_last_error());
        discard_dump(reason, STATE_NONE, "it could not be put in place in the run before");
        return;
    }
    os_remove_private_folder(g_dump_folder);
    g_dump_folder = nullptr;
    if (os_file_stamp(ARCHIVE, false, &stamp, &failed_call) != 0) {
        log_format("Cannot record the class archive: %s('%s') failed: %lu", failed_call, ARCHIVE, os_last_error());
        return;
    }
    char text[128];
    stamp_text(text, sizeof text, stamp);
    write_record(STATE_ARCHIVE, text);
}
