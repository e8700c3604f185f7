#include "log/instance_log.h"

#include "instance/path_text.h"
#include "log/log.h"
#include "log/output_capture.h"
#include "platform/os_process.h"

#include <cerrno>
#include <cstdio>

// The path of a file of the instance's log folder without its ".txt".
static void compose_log_stem(char* stem, const char* instance_folder, const char* name)
{
    bounded_copy(stem, ROLLING_STEM_CAPACITY, instance_folder);
    append_pieces(stem, ROLLING_STEM_CAPACITY, {path_separator(), "log", path_separator(), name});
}

// Where a run goes on in a file it could not keep apart from the runs before.
static const char SEPARATOR_LINE[] = "----------------------------------------";

// The instance folder and the limits, for the captured output; why the log
// file could not be opened, empty when it was.
static char g_instance_folder[PATH_CAPACITY];
static rolling_limits g_limits;
static char g_log_failure[LONG_TEXT_CAPACITY];
static rolling_file g_log_file;

// Says on the console that the run keeps no log, and where a log folder
// would make one; a missing instance folder is said by the working
// directory's change instead.
static void say_no_log_folder(const char* instance_folder)
{
    unsigned long long size = 0, modified = 0;
    const char* failed_call = "";
    if (os_file_stamp(instance_folder, &size, &modified, &failed_call) == 1)
        return;
    printf("No log file: the instance folder has no log folder; create '%s%slog' to keep the run's log\n",
           instance_folder, path_separator());
}

void open_instance_log(const char* instance_folder, rolling_limits limits)
{
    bounded_copy(g_instance_folder, sizeof g_instance_folder, instance_folder);
    g_limits = limits;
    char stem[ROLLING_STEM_CAPACITY];
    compose_log_stem(stem, instance_folder, "zrsvc-log");
    int opened = rolling_open(&g_log_file, stem, "log", limits);
    // Said once the log is the sink, whose lines would take its place.
    char news[sizeof g_log_file.news];
    bounded_copy(news, sizeof news, g_log_file.news);
    g_log_file.news[0] = '\0';
    if (opened >= 0) {
        printf("LOG FILE: '%s.txt'\n", stem);
        log_to_file(&g_log_file);
    } else if (os_error_number(os_last_error()) == ENOENT) {
        say_no_log_folder(instance_folder);
    } else if (os_error_number(os_last_error()) == ELOOP) {
        snprintf(g_log_failure, sizeof g_log_failure, "Cannot open the log file '%s.txt': it is a link, which is "
                 "never followed", stem);
    } else if (os_error_number(os_last_error()) != ENOENT) {
        snprintf(g_log_failure, sizeof g_log_failure, "Cannot open the log file '%s.txt': %lu", stem,
                 os_last_error());
    }
    if (opened < 0 && g_log_failure[0] != '\0') {
        log_cannot_log(g_log_failure);
        log_line(g_log_failure);
    }
    if (opened == 1)
        log_line(SEPARATOR_LINE);
    if (news[0] != '\0')
        log_line(news);
}

void capture_std_streams()
{
    // Without a log folder nothing of the run is kept.
    if (!log_sink_is_file() && g_log_failure[0] == '\0')
        return;
    char stem[ROLLING_STEM_CAPACITY];
    compose_log_stem(stem, g_instance_folder, "zrsvc-stdout");
    // The only record of the run then.
    if (begin_output_capture(stem, g_limits) == 0 && g_log_failure[0] != '\0')
        log_cannot_log(g_log_failure);
}
