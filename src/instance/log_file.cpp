#include "instance/steps.h"

#include "instance/path_text.h"
#include "log/log.h"
#include "platform/os_errors.h"
#include "platform/os_files.h"

#include <cerrno>
#include <cstdio>

const char SEPARATOR_LINE[] = "----------------------------------------";

std::string log_folder_path(const std::string& instance_folder, const char* name)
{
    return instance_folder + path_separator() + "log" + path_separator() + name;
}

int keep_previous_run(const std::string& instance_folder, const char* name, const char* previous_name)
{
    std::string path = log_folder_path(instance_folder, name);
    std::string previous = log_folder_path(instance_folder, previous_name);
    return os_replace_file(path.c_str(), previous.c_str()) == OS_FILE_FAILED ? static_cast<int>(os_last_error()) : 0;
}

// Says on the console that the run keeps no log, and where a log folder
// would make one; a missing instance folder is said by the working
// directory's change instead.
static void say_no_log_folder(const std::string& instance_folder)
{
    os_stamp stamp;
    const char* failed_call = "";
    if (os_file_stamp(instance_folder.c_str(), true, &stamp, &failed_call) == OS_FILE_MISSING)
        return;
    printf("No log file: the instance folder has no log folder; create '%s%slog' to keep the run's log\n",
           instance_folder.c_str(), path_separator());
}

void open_log_file(instance_plan* plan)
{
    std::string log_path = log_folder_path(plan->instance_folder, "zrsvc-log.txt");
    int kept = keep_previous_run(plan->instance_folder, "zrsvc-log.txt", "zrsvc-log.1.txt");
    FILE* file = kept == 0 ? os_open_text_for_writing(log_path.c_str()) : os_open_text_for_appending(log_path.c_str());
    if (file != nullptr) {
        printf("LOG FILE: '%s'\n", log_path.c_str());
        log_to_file(file);
    } else if (os_error_number(os_last_error()) == ENOENT) {
        say_no_log_folder(plan->instance_folder);
    } else if (os_error_number(os_last_error()) == ELOOP) {
        plan->log_failure = "Cannot open the log file '" + log_path + "': it is a link, which is never followed";
    } else {
        plan->log_failure = "Cannot open the log file '" + log_path + "': " + std::to_string(os_last_error());
    }
    if (file == nullptr && !plan->log_failure.empty()) {
        log_cannot_log(plan->log_failure.c_str());
        log_line(plan->log_failure.c_str());
    }
    if (kept != 0) {
        log_line(SEPARATOR_LINE);
        log_format("Cannot keep the previous log as zrsvc-log.1.txt: %d", kept);
    }
}
