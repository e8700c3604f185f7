#include "instance/class_archive.h"

#include "instance/java_release.h"
#include "instance/path_text.h"
#include "log/log.h"
#include "platform/os_environment.h"
#include "platform/os_errors.h"
#include "platform/os_files.h"
#include "platform/os_library.h"
#include "platform/os_vm_files.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

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

// A record holds a line per class-path entry and per option: room for the
// longest class path (10,000 characters) and jvm.options (64 KiB) with
// their stamps.
enum { RECORD_CAPACITY = 512 * 1024, ENVIRONMENT_OPTIONS_MOST = 256 };
// The first Java whose VM takes -XX:ArchiveClassesAtExit (dynamic archives).
enum { ARCHIVE_JAVA_LEAST = 13 };
// Paths the VM is given are short: the archive's name, its folder's, or one
// of /proc/self/fd.
enum { VM_PATH_CAPACITY = 64 };

static std::string stamp_text(const os_stamp& stamp)
{
    char text[128];
    snprintf(text, sizeof text, "%llu %llu %llu %llu %llu", stamp.size, stamp.modified, stamp.changed, stamp.volume,
             stamp.index);
    return text;
}

// Adds a line to the run's inputs. Returns 0, or -1 after logging that it
// does not fit.
static int add_input(std::string* inputs, const char* format, ...) __attribute__((format(printf, 2, 3)));
static int add_input(std::string* inputs, const char* format, ...)
{
    char line[2 * LONG_TEXT_CAPACITY];
    va_list arguments;
    va_start(arguments, format);
    int length = vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    if (length < 0 || static_cast<size_t>(length) >= sizeof line ||
        inputs->size() + static_cast<size_t>(length) >= RECORD_CAPACITY) {
        log_format("Class archive not used: its record would exceed %d bytes", RECORD_CAPACITY);
        return -1;
    }
    *inputs += line;
    return 0;
}

// Adds the line "<kind> <stamp> <path>" of a file, followed through links as
// the VM follows them, and a JAR's size to jar_bytes. Returns 0, or -1 after
// logging why the file cannot be stamped or the line does not fit.
static int add_stamp(std::string* inputs, unsigned long long* jar_bytes, const char* kind, const char* path)
{
    os_stamp stamp;
    os_error error;
    if (os_file_stamp(path, true, &stamp, &error) != OS_FILE_DONE) {
        log_format("Class archive not used: %s('%s') failed: %lu", error.call, path, error.code);
        return -1;
    }
    if (strcmp(kind, "jar") == 0)
        *jar_bytes += stamp.size;
    return add_input(inputs, "%s %s %s\n", kind, stamp_text(stamp).c_str(), path);
}

// Adds the options of the environment's variables, as the VM reads them, to
// the inputs, unless one makes the archive stand aside. Returns 0, or -1
// (logged).
static int add_environment_options(std::string* inputs)
{
    for (const char* variable : OPTION_VARIABLES) {
        const char* value = os_getenv(variable);
        if (value == nullptr)
            continue;
        std::vector<char> buffer(LONG_TEXT_CAPACITY);
        const char* options[ENVIRONMENT_OPTIONS_MOST];
        int count = split_vm_options_variable(value, buffer.data(), buffer.size(), options, ENVIRONMENT_OPTIONS_MOST);
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
            if (add_input(inputs, "%s %s\n", variable, options[i]) != 0)
                return -1;
        }
    }
    return 0;
}

// Composes the run's inputs: the Java home, the VM library, each JAR of the
// class path (every entry but the last, conf), each option after it, those
// of the environment, and the JARs' total size. Returns 0, or -1 (logged).
static int compose_inputs(const instance_plan& plan, std::string* inputs, unsigned long long* jar_bytes)
{
    inputs->clear();
    *jar_bytes = 0;
    if (add_input(inputs, "java-home %s\n", plan.java_home.c_str()) != 0)
        return -1;
    std::string library = plan.java_home + OS_JVM_LIBRARY;
    if (library.size() >= PATH_CAPACITY) {
        log_line("Class archive not used: the Java home's path is too long");
        return -1;
    }
    if (add_stamp(inputs, jar_bytes, "vm", library.c_str()) != 0)
        return -1;
    for (size_t i = 0; i + 1 < plan.class_path_entries.size(); ++i)
        if (add_stamp(inputs, jar_bytes, "jar", plan.class_path_entries[i].c_str()) != 0)
            return -1;
    for (const std::string& option : plan.options)
        if (add_input(inputs, "option %s\n", option.c_str()) != 0)
            return -1;
    return add_environment_options(inputs);
}

// Writes the record of the inputs with the state line state and detail.
// Returns 0, or -1 (logged, the record removed).
static int write_record(const std::string& inputs, const char* state, const std::string& detail)
{
    std::string record = std::string(RECORD_KIND) + "\n" + state + detail + "\n" + inputs;
    FILE* file = os_open_text_for_writing(RECORD);
    bool written = file != nullptr && fputs(record.c_str(), file) >= 0;
    if (file != nullptr && fclose(file) != 0)
        written = false;
    if (!written) {
        log_format("Cannot write the class archive's record %s: %lu", RECORD, os_last_error());
        os_error ignored;
        os_remove_file(RECORD, &ignored);
        return -1;
    }
    return 0;
}

// Why a record's inputs (found) differ from the run's (expected), judged by
// the first line that differs; null when they are the same.
static const char* inputs_difference(const char* found, const std::string& inputs, char* reason, size_t capacity)
{
    const char* start = inputs.c_str();
    const char* expected = start;
    while (*found != '\0' && *found == *expected) {
        ++found;
        ++expected;
    }
    if (*found == '\0' && *expected == '\0')
        return nullptr;
    while (expected > start && expected[-1] != '\n') {
        --expected;
        --found;
    }
    // A JAR more or less: a JAR's line stands where another line stood.
    if ((strncmp(expected, "jar ", 4) == 0) != (strncmp(found, "jar ", 4) == 0))
        return "the class path changed";
    // A record with more lines than the run's: its first extra line tells.
    const char* line = *expected != '\0' ? expected : found;
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

// Reads the record and judges the archive of stamp (null: there is none)
// for the run's inputs: ARCHIVE_MAP, ARCHIVE_RENEW with reason ("" when
// there is none) or ARCHIVE_ASIDE (logged).
static archive_verdict judge_record(const std::string& inputs, const os_stamp* stamp, const char** reason,
                                    char* detail, size_t capacity)
{
    std::vector<char> found(RECORD_CAPACITY);
    size_t length = 0;
    os_error error;
    os_file_result read = os_read_file(RECORD, found.data(), found.size() - 1, &length, &error);
    *reason = stamp == nullptr ? "" : "its record zrsvc.jsa.txt cannot be read";
    if (read != OS_FILE_DONE)
        return ARCHIVE_RENEW;
    size_t kept = 0;
    for (size_t i = 0; i < length; ++i)
        if (found[i] != '\r')
            found[kept++] = found[i];
    found[kept] = '\0';
    size_t kind_length = strlen(RECORD_KIND);
    char* state = found.data() + kind_length + 1;
    bool of_kind = strncmp(found.data(), RECORD_KIND, kind_length) == 0 && found[kind_length] == '\n';
    char* found_inputs = of_kind ? strchr(state, '\n') : nullptr;
    if (found_inputs == nullptr) {
        *reason = stamp == nullptr ? "" : "its record is not of this run";
        return ARCHIVE_RENEW;
    }
    *found_inputs++ = '\0';
    if (const char* difference = inputs_difference(found_inputs, inputs, detail, capacity)) {
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
    if (strncmp(state, STATE_ARCHIVE, strlen(STATE_ARCHIVE)) == 0 &&
        stamp_text(*stamp) == state + strlen(STATE_ARCHIVE))
        return ARCHIVE_MAP;
    *reason = "the archive is not the one its record describes";
    return ARCHIVE_RENEW;
}

// Puts the option first, behind the class path.
static void put_option(instance_plan* plan, const std::string& option)
{
    plan->options.insert(plan->options.begin(), option);
}

// The free space the VM's archive needs, besides what the application may
// need: Debian's guava, guice, commons-lang3 and commons-io (4.7 MB) gave a
// 17 MB archive, most of their classes loaded.
enum { FREE_SPACE_MARGIN = 64 * 1024 * 1024, ARCHIVE_PER_JAR_BYTE = 4 };

// Returns 0 when the instance folder's volume clearly has room for the
// archive, else -1 (logged).
static int check_free_space(unsigned long long jar_bytes)
{
    unsigned long long free_bytes = 0;
    os_error error;
    if (os_free_space(".", &free_bytes, &error) != OS_FILE_DONE) {
        log_format("Class archive not used: %s('.') failed: %lu", error.call, error.code);
        return -1;
    }
    unsigned long long needed = FREE_SPACE_MARGIN + ARCHIVE_PER_JAR_BYTE * jar_bytes;
    if (free_bytes >= needed)
        return 0;
    log_format("Class archive not used: the instance folder's volume has %llu MiB free space, less than the %llu "
               "MiB it may need",
               free_bytes >> 20, (needed + (1 << 20) - 1) >> 20);
    return -1;
}

// Makes the run's own folder for the VM's archive, held in made_from.
// Returns 0, or -1 (logged).
static int prepare_dump(archive_inputs* made_from)
{
    char folder[VM_PATH_CAPACITY];
    os_error error;
    made_from->dump_folder = os_make_private_folder(DUMP_FOLDER_PREFIX, folder, sizeof folder, &error);
    if (made_from->dump_folder == nullptr) {
        log_format("Class archive not used: the instance folder cannot be written: %s('%s...') failed: %lu",
                   error.call, DUMP_FOLDER_PREFIX, error.code);
        return -1;
    }
    made_from->dump_path = std::string(folder) + path_separator() + ARCHIVE;
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
    os_error error;
    if (os_file_stamp(RECORD, false, &stamp, &error) != OS_FILE_DONE || stamp.regular)
        return false;
    log_in_the_way(RECORD);
    return true;
}

// The checks that stand the archive aside before its inputs are stamped:
// the options of jvm.options, the Java's version, conf's class files, a
// record that is no regular file. Returns true when it stands aside
// (logged).
static bool stands_aside(const instance_plan& plan)
{
    for (const std::string& option : plan.options)
        if (const char* why = archive_aside_reason(option.c_str())) {
            log_format("Class archive not used: jvm.options sets '%s'%s", option.c_str(), why);
            return true;
        }
    // An older VM would refuse the archive's options and not be created.
    int version = java_feature_version(plan.java_home.c_str());
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

// Holds the archive for the VM to map (made_from). Returns OS_FILE_DONE with
// the path to give the VM, OS_FILE_MISSING when there is none, or
// OS_FILE_FAILED when it stands aside (logged).
static os_file_result hold_archive(archive_inputs* made_from, std::string* vm_path)
{
    char path[VM_PATH_CAPACITY];
    os_file_result result = OS_FILE_FAILED;
    os_error error;
    made_from->mapped_file = os_hold_vm_file(ARCHIVE, path, sizeof path, &made_from->mapped_stamp, &result,
                                             &error);
    if (result == OS_FILE_NOT_REGULAR)
        log_in_the_way(ARCHIVE);
    if (result == OS_FILE_FAILED)
        log_format("Class archive not used: %s('%s') failed: %lu", error.call, ARCHIVE, error.code);
    if (result == OS_FILE_DONE)
        *vm_path = path;
    return result == OS_FILE_NOT_REGULAR ? OS_FILE_FAILED : result;
}

run_failure plan_class_archive(instance_plan* plan)
{
    const char* setting = os_getenv("ZR_CLASS_ARCHIVE");
    int on = setting == nullptr ? 1 : parse_class_archive_setting(setting);
    plan->archive = archive_decision::NOT_USED;
    if (on < 0)
        return fail_format("Invalid ZR_CLASS_ARCHIVE '%s': on or off is expected", setting);
    if (on == 0) {
        log_line("Class archive not used: ZR_CLASS_ARCHIVE is off");
        return {};
    }
    if (stands_aside(*plan))
        return {};
    // What a run that ended before putting its archive in place left.
    os_remove_stale_private_folders(DUMP_FOLDER_PREFIX);
    archive_inputs& made_from = plan->archive_made_from;
    unsigned long long jar_bytes = 0;
    if (compose_inputs(*plan, &made_from.lines, &jar_bytes) != 0)
        return {};
    std::string mapped_path;
    os_file_result held = hold_archive(&made_from, &mapped_path);
    if (held == OS_FILE_FAILED)
        return {};
    char detail[LONG_TEXT_CAPACITY];
    const char* reason = "";
    const os_stamp* stamp = held == OS_FILE_DONE ? &made_from.mapped_stamp : nullptr;
    archive_verdict verdict = judge_record(made_from.lines, stamp, &reason, detail, sizeof detail);
    if (verdict == ARCHIVE_MAP) {
        put_option(plan, "-XX:SharedArchiveFile=" + mapped_path);
        plan->archive = archive_decision::MAPPED;
        log_format("Class archive %s to be mapped: made from this Java home, class path and options", ARCHIVE);
        return {};
    }
    // Held, it could not be replaced.
    os_release_vm_file(made_from.mapped_file);
    made_from.mapped_file = nullptr;
    if (verdict == ARCHIVE_ASIDE || check_free_space(jar_bytes) != 0 || prepare_dump(&made_from) != 0)
        return {};
    put_option(plan, QUIET_OPTION);
    put_option(plan, "-XX:ArchiveClassesAtExit=" + made_from.dump_path);
    plan->archive = archive_decision::WRITTEN;
    if (reason[0] == '\0')
        log_format("Class archive %s to be created when the VM ends: there is none", ARCHIVE);
    else
        log_format("Class archive %s to be renewed when the VM ends: %s", ARCHIVE, reason);
    return {};
}

void class_archive_vm_created(const instance_plan& plan)
{
    if (plan.archive != archive_decision::MAPPED)
        return;
    os_mapping mapped = os_file_is_mapped(plan.archive_made_from.mapped_stamp);
    if (mapped == OS_MAPPED)
        log_format("Class archive %s used: the VM mapped it", ARCHIVE);
    if (mapped == OS_NOT_MAPPED) {
        log_format("Class archive %s not used: the VM did not map it; the next run renews it", ARCHIVE);
        write_record(plan.archive_made_from.lines, STATE_NONE, "the VM did not map it in the run before");
    }
}

// Removes what the VM wrote, logs why the archive was not written, and
// records state and detail for the next run.
static void discard_dump(const instance_plan& plan, const char* reason, const char* state, const char* detail)
{
    log_format("Class archive %s not written: %s", ARCHIVE, reason);
    os_remove_private_folder(plan.archive_made_from.dump_folder);
    write_record(plan.archive_made_from.lines, state, detail);
}

void class_archive_vm_not_created(const instance_plan& plan)
{
    discard_dump(plan,
                 "the VM was not created; the next runs stand aside until the Java home, class path or options "
                 "change",
                 STATE_FAILED, "the VM could not be created while asked to write it");
}

void fail_class_archive(const instance_plan& plan, const char* reason)
{
    discard_dump(plan, reason, STATE_FAILED, "the VM gave up while writing it");
}

void finish_class_archive(const instance_plan& plan, bool destroyed, bool application_ran)
{
    if (!application_ran) {
        discard_dump(plan, "the application did not run", STATE_NONE, "the application did not run in the run before");
        return;
    }
    if (!destroyed) {
        discard_dump(plan, "the VM was not destroyed cleanly", STATE_NONE,
                     "the VM was not destroyed cleanly in the run before");
        return;
    }
    const char* dump_path = plan.archive_made_from.dump_path.c_str();
    os_stamp stamp;
    os_error error;
    if (os_file_stamp(dump_path, false, &stamp, &error) != OS_FILE_DONE || !stamp.regular || stamp.size == 0) {
        discard_dump(plan, "the VM wrote none", STATE_NONE, "the VM wrote none in the run before");
        return;
    }
    // The record goes first: a run that finds an archive without a record
    // matching it renews it. The rename replaces a link in the archive's
    // place, never what it leads to.
    os_error ignored;
    os_remove_file(RECORD, &ignored);
    if (os_replace_file(dump_path, ARCHIVE, &error) != OS_FILE_DONE) {
        char reason[2 * VM_PATH_CAPACITY + 64];
        snprintf(reason, sizeof reason, "%s('%s', '%s') failed: %lu", error.call, dump_path, ARCHIVE, error.code);
        discard_dump(plan, reason, STATE_NONE, "it could not be put in place in the run before");
        return;
    }
    os_remove_private_folder(plan.archive_made_from.dump_folder);
    if (os_file_stamp(ARCHIVE, false, &stamp, &error) != OS_FILE_DONE) {
        log_format("Cannot record the class archive: %s('%s') failed: %lu", error.call, ARCHIVE, error.code);
        return;
    }
    write_record(plan.archive_made_from.lines, STATE_ARCHIVE, stamp_text(stamp));
}
