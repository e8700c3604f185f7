#include "instance/steps.h"

#include "instance/path_text.h"
#include "log/log.h"
#include "log/rolling_file.h"
#include "platform/os_environment.h"
#include "platform/os_errors.h"
#include "platform/os_files.h"
#include "text/bounded_text.h"

#include <cerrno>
#include <cstdio>

std::string log_folder_path(const std::string& instance_folder, const char* name)
{
    return instance_folder + path_separator() + "log" + path_separator() + name;
}

// A whole number from 1 to most in a variable, its default when it is not
// set; -1 for any other value.
static int read_whole_number(const char* name, int default_value, int most)
{
    const char* value = os_getenv(name);
    return value == nullptr ? default_value : parse_whole_number(value, most);
}

run_failure read_log_limits(rolling_limits* limits)
{
    int megabytes = read_whole_number("ZR_LOG_LIMIT_MB", DEFAULT_LOG_LIMIT_MB, MOST_LOG_LIMIT_MB);
    int keep = read_whole_number("ZR_LOG_KEEP", DEFAULT_LOG_KEEP, MOST_LOG_KEEP);
    // Refused, the log still says so, under the default limits.
    limits->limit_bytes = static_cast<unsigned long long>(megabytes > 0 ? megabytes : DEFAULT_LOG_LIMIT_MB) << 20;
    limits->keep = keep > 0 ? keep : DEFAULT_LOG_KEEP;
    if (megabytes < 0)
        return fail_format("Invalid ZR_LOG_LIMIT_MB '%s': a whole number of MiB from 1 to %d is expected",
                           os_getenv("ZR_LOG_LIMIT_MB"), static_cast<int>(MOST_LOG_LIMIT_MB));
    if (keep < 0)
        return fail_format("Invalid ZR_LOG_KEEP '%s': a whole number of files from 1 to %d is expected",
                           os_getenv("ZR_LOG_KEEP"), static_cast<int>(MOST_LOG_KEEP));
    return {};
}

// Says on the console that the run keeps no log, and where a log folder
// would make one; a missing instance folder is said by the working
// directory's change instead.
static void say_no_log_folder(const std::string& instance_folder)
{
    os_stamp stamp;
    os_error error;
    if (os_file_stamp(instance_folder.c_str(), true, &stamp, &error) == OS_FILE_MISSING)
        return;
    printf("No log file: the instance folder has no log folder; create '%s%slog' to keep the run's log\n",
           instance_folder.c_str(), path_separator());
}

void open_log_file(instance_plan* plan)
{
    std::string stem = log_folder_path(plan->instance_folder, "zrsvc-log");
    std::string log_path = stem + ".txt";
    // The sink from its opening to the end of the process: the log owns it.
    rolling_file* file = new rolling_file();
    int opened = rolling_open(file, stem.c_str(), "log", plan->log_limits);
    // Said once the log is the sink, whose lines would take its place.
    std::string news = file->news;
    file->news[0] = '\0';
    if (opened >= 0) {
        printf("LOG FILE: '%s'\n", log_path.c_str());
        log_to_file(file);
    } else {
        unsigned long error = os_last_error();
        delete file;
        if (os_error_number(error) == ENOENT)
            say_no_log_folder(plan->instance_folder);
        else if (os_error_number(error) == ELOOP)
            plan->log_failure = "Cannot open the log file '" + log_path + "': it is a link, which is never followed";
        else
            plan->log_failure = "Cannot open the log file '" + log_path + "': " + std::to_string(error);
        if (!plan->log_failure.empty()) {
            log_cannot_log(plan->log_failure.c_str());
            log_line(plan->log_failure.c_str());
        }
    }
    if (opened == ROLLING_APPENDED)
        log_line(SEPARATOR_LINE);
    if (!news.empty())
        log_line(news.c_str());
}
