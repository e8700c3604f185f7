#include "instance/class_archive.h"

#include "instance/java_release.h"
#include "instance/path_text.h"
#include "log/log.h"
#include "platform/os_dir.h"
#include "platform/os_environment.h"
#include "platform/os_errors.h"
#include "platform/os_files.h"
#include "platform/os_library.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

static const char ARCHIVE[] = "zrsvc.jsa";
static const char RECORD[] = "zrsvc.jsa.txt";
static const char DUMP[] = "zrsvc.jsa.new";
static const char MAP_OPTION[] = "-XX:SharedArchiveFile=zrsvc.jsa";
static const char DUMP_OPTION[] = "-XX:ArchiveClassesAtExit=zrsvc.jsa.new";
// While dumping, the VM warns once per class it cannot archive (old class
// files): one line each, thousands for some JARs.
static const char QUIET_OPTION[] = "-Xlog:cds*=off";
static const char RECORD_KIND[] = "zrsvc class archive 1";

// A record holds a line per class-path entry and per option: room for the
// longest class path (10,000 characters) and jvm.options (64 KiB) with
// their stamps.
enum { RECORD_CAPACITY = 512 * 1024, CONF_DEPTH_MOST = 16 };
// The first Java whose VM takes -XX:ArchiveClassesAtExit (dynamic archives).
enum { ARCHIVE_JAVA_LEAST = 13 };

int parse_class_archive_setting(const char* text)
{
    if (strcmp(text, "on") == 0)
        return 1;
    if (strcmp(text, "off") == 0)
        return 0;
    return -1;
}

// Whether the flag name of a -XX: option (after its + or -) names sharing.
static bool names_sharing(const char* flag)
{
    for (const char* word : {"Shared", "Archive", "ClassList"})
        if (strstr(flag, word) != nullptr)
            return true;
    return false;
}

const char* sharing_option(const std::vector<std::string>& options)
{
    for (const std::string& text : options) {
        const char* option = text.c_str();
        if (strncmp(option, "-Xshare", 7) == 0 || (strncmp(option, "-XX:", 4) == 0 && names_sharing(option + 4)))
            return option;
    }
    return nullptr;
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

// Adds the line "<kind> <size> <modified> <path>" of a file, and a JAR's
// size to jar_bytes. Returns 0, or -1 after logging why the file cannot be
// stamped or the line does not fit.
static int add_stamp(std::string* inputs, unsigned long long* jar_bytes, const char* kind, const char* path)
{
    unsigned long long size = 0, modified = 0;
    const char* failed_call = "";
    if (os_file_stamp(path, &size, &modified, &failed_call) != OS_FILE_DONE) {
        log_format("Class archive not used: %s('%s') failed: %lu", failed_call, path, os_last_error());
        return -1;
    }
    if (strcmp(kind, "jar") == 0)
        *jar_bytes += size;
    return add_input(inputs, "%s %llu %llu %s\n", kind, size, modified, path);
}

// Composes the run's inputs: the Java home, the VM library, each JAR of the
// class path (every entry but the last, conf) and each option after it, and
// the JARs' total size. Returns 0, or -1 (logged).
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
    return 0;
}

// The whole record of the archive with this stamp.
static std::string compose_record(unsigned long long size, unsigned long long modified, const std::string& inputs)
{
    return std::string(RECORD_KIND) + "\narchive " + std::to_string(size) + " " + std::to_string(modified) + "\n" +
           inputs;
}

// Why the archive's record (found) differs from what the run would record
// (expected), judged by the first line that differs; null when they are the
// same.
static const char* record_difference(const char* found, const char* expected_record, char* reason, size_t capacity)
{
    const char* expected = expected_record;
    while (*found != '\0' && *found == *expected) {
        ++found;
        ++expected;
    }
    if (*found == '\0' && *expected == '\0')
        return nullptr;
    while (expected > expected_record && expected[-1] != '\n') {
        --expected;
        --found;
    }
    // A JAR more or less: a JAR's line stands where another line stood.
    if ((strncmp(expected, "jar ", 4) == 0) != (strncmp(found, "jar ", 4) == 0))
        return "the class path changed";
    // A record with more lines than the run's: its first extra line tells.
    const char* line = *expected != '\0' ? expected : found;
    if (strncmp(line, "archive ", 8) == 0)
        return "the archive is not the one its record describes";
    if (strncmp(line, "java-home ", 10) == 0)
        return "the Java home changed";
    if (strncmp(line, "vm ", 3) == 0)
        return "the VM library changed";
    if (strncmp(line, "option ", 7) == 0)
        return "the options of jvm.options changed";
    if (strncmp(line, "jar ", 4) != 0)
        return "its record is not of this run";
    const char* path = line + 4;
    for (int field = 0; field < 2 && strchr(path, ' ') != nullptr; ++field)
        path = strchr(path, ' ') + 1;
    snprintf(reason, capacity, "the JAR '%.*s' changed", static_cast<int>(strcspn(path, "\n")), path);
    return reason;
}

// Why the archive must be written anew, "" when there is none; null when it
// can be mapped.
static const char* renewal_reason(const std::string& inputs, char* reason, size_t capacity)
{
    unsigned long long size = 0, modified = 0;
    const char* failed_call = "";
    if (os_file_stamp(ARCHIVE, &size, &modified, &failed_call) != OS_FILE_DONE)
        return "";
    std::vector<char> found(RECORD_CAPACITY);
    size_t length = 0;
    if (os_read_file(RECORD, found.data(), found.size() - 1, &length, &failed_call) != OS_FILE_DONE)
        return "its record zrsvc.jsa.txt cannot be read";
    size_t kept = 0;
    for (size_t i = 0; i < length; ++i)
        if (found[i] != '\r')
            found[kept++] = found[i];
    found[kept] = '\0';
    std::string expected = compose_record(size, modified, inputs);
    return record_difference(found.data(), expected.c_str(), reason, capacity);
}

static bool ends_in_class(const char* name)
{
    size_t length = strlen(name);
    return length >= 6 && text_equal_nocase(name + length - 6, ".class");
}

// Whether folder (capacity PATH_CAPACITY), or a folder below it up to depth
// levels down, holds a class file; folder is then that file's path. A folder
// that cannot be listed counts as holding none.
static bool holds_class_file(char* folder, int depth)
{
    int error = 0;
    os_dir* dir = os_dir_open(folder, &error);
    if (dir == nullptr)
        return false;
    size_t length = strlen(folder);
    os_entry_type type;
    bool found = false;
    for (const char* name; !found && (name = os_dir_next(dir, &type)) != nullptr;) {
        if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0)
            continue;
        // An entry whose path does not fit is passed over; the folder's own
        // path stays whole for the entries after it.
        if (length + 1 + strlen(name) >= PATH_CAPACITY)
            continue;
        append_pieces(folder, PATH_CAPACITY, {path_separator(), name});
        found = type == OS_ENTRY_DIRECTORY ? depth > 0 && holds_class_file(folder, depth - 1)
                                          : ends_in_class(name);
        if (!found)
            folder[length] = '\0';
    }
    os_dir_close(dir);
    return found;
}

// Puts the option first, behind the class path.
static void put_option(instance_plan* plan, const char* option)
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
    const char* failed_call = "";
    if (os_free_space(".", &free_bytes, &failed_call) != OS_FILE_DONE) {
        log_format("Class archive not used: %s('.') failed: %lu", failed_call, os_last_error());
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

// Makes room for the VM's archive: an old unfinished one goes, and a new
// empty file shows that the instance folder can be written. Returns 0, or -1
// (logged).
static int prepare_dump(archive_inputs* made_from)
{
    os_remove_file(DUMP);
    FILE* file = os_open_text_for_writing(DUMP);
    if (file == nullptr) {
        log_format("Class archive not used: the instance folder cannot be written (%s: %lu)", DUMP,
                   os_last_error());
        return -1;
    }
    fclose(file);
    const char* failed_call = "";
    os_file_stamp(DUMP, &made_from->empty_dump_size, &made_from->empty_dump_modified, &failed_call);
    return 0;
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
    if (const char* option = sharing_option(plan->options)) {
        log_format("Class archive not used: jvm.options sets '%s'", option);
        return {};
    }
    char conf[PATH_CAPACITY] = "conf";
    if (holds_class_file(conf, CONF_DEPTH_MOST)) {
        log_format("Class archive not used: the VM cannot archive classes of the conf folder ('%s')", conf);
        return {};
    }
    // An older VM would refuse the archive's options and not be created.
    int version = java_feature_version(plan->java_home.c_str());
    if (version != 0 && version < ARCHIVE_JAVA_LEAST) {
        log_format("Class archive not used: the Java home holds Java %d (its release file); the archive needs "
                   "Java %d or later", version, ARCHIVE_JAVA_LEAST);
        return {};
    }
    std::string inputs;
    unsigned long long jar_bytes = 0;
    if (compose_inputs(*plan, &inputs, &jar_bytes) != 0)
        return {};
    char detail[LONG_TEXT_CAPACITY];
    const char* reason = renewal_reason(inputs, detail, sizeof detail);
    if (reason == nullptr) {
        put_option(plan, MAP_OPTION);
        plan->archive = archive_decision::MAPPED;
        log_format("Class archive %s used: made from this Java home, class path and options", ARCHIVE);
        return {};
    }
    if (check_free_space(jar_bytes) != 0 || prepare_dump(&plan->archive_made_from) != 0)
        return {};
    plan->archive_made_from.lines = inputs;
    put_option(plan, QUIET_OPTION);
    put_option(plan, DUMP_OPTION);
    plan->archive = archive_decision::WRITTEN;
    if (reason[0] == '\0')
        log_format("Class archive %s to be created when the VM ends: there is none", ARCHIVE);
    else
        log_format("Class archive %s to be renewed when the VM ends: %s", ARCHIVE, reason);
    return {};
}

// Writes the record of the archive in place. Returns 0, or -1 (logged).
static int write_record(const archive_inputs& made_from)
{
    unsigned long long size = 0, modified = 0;
    const char* failed_call = "";
    if (os_file_stamp(ARCHIVE, &size, &modified, &failed_call) != OS_FILE_DONE) {
        log_format("Cannot record the class archive: %s('%s') failed: %lu", failed_call, ARCHIVE, os_last_error());
        return -1;
    }
    std::string record = compose_record(size, modified, made_from.lines);
    FILE* file = os_open_text_for_writing(RECORD);
    bool written = file != nullptr && fputs(record.c_str(), file) >= 0;
    if (file != nullptr && fclose(file) != 0)
        written = false;
    if (!written) {
        log_format("Cannot write the class archive's record %s: %lu", RECORD, os_last_error());
        os_remove_file(RECORD);
        return -1;
    }
    return 0;
}

bool class_archive_in_writing(const instance_plan& plan)
{
    if (plan.archive != archive_decision::WRITTEN)
        return false;
    // The VM removes the empty file and writes its own in its place, which a
    // full disk makes it remove again.
    unsigned long long size = 0, modified = 0;
    const char* failed_call = "";
    return os_file_stamp(DUMP, &size, &modified, &failed_call) != OS_FILE_DONE ||
           size != plan.archive_made_from.empty_dump_size || modified != plan.archive_made_from.empty_dump_modified;
}

void drop_class_archive(const char* reason)
{
    log_format("Class archive %s not written: %s", ARCHIVE, reason);
    os_remove_file(DUMP);
}

void finish_class_archive(const instance_plan& plan, bool destroyed)
{
    if (plan.archive != archive_decision::WRITTEN)
        return;
    unsigned long long size = 0, modified = 0;
    const char* failed_call = "";
    bool written = os_file_stamp(DUMP, &size, &modified, &failed_call) == OS_FILE_DONE && size > 0;
    if (!destroyed || !written) {
        drop_class_archive(destroyed ? "the VM wrote none" : "the VM was not destroyed cleanly");
        return;
    }
    // The record goes first: a run that finds an archive without a record
    // matching it renews it.
    os_remove_file(RECORD);
    if (os_replace_file(DUMP, ARCHIVE) != OS_FILE_DONE) {
        log_format("Cannot put the class archive in place: rename('%s', '%s') failed: %lu", DUMP, ARCHIVE,
                   os_last_error());
        os_remove_file(DUMP);
        return;
    }
    write_record(plan.archive_made_from);
}
