#include "instance/instance.h"
#include "instance/steps.h"

#include "log/log.h"
#include "platform/os_console.h"

#include <cstdio>

void capture_std_streams(const instance_plan& plan)
{
    // Without a log folder nothing of the run is kept.
    if (!log_sink_is_file() && plan.log_failure.empty())
        return;
    int kept = keep_previous_run(plan.instance_folder, "zrsvc-stdout.txt", "zrsvc-stdout.1.txt");
    if (kept != 0)
        log_format("Cannot keep the previous output as zrsvc-stdout.1.txt: %d", kept);
    std::string path = log_folder_path(plan.instance_folder, "zrsvc-stdout.txt");
    int error = os_redirect_std_streams(path.c_str(), kept != 0);
    if (error != 0)
        log_format("Cannot send standard output and error to zrsvc-stdout.txt: %d", error);
    else if (kept != 0)
        printf("%s\n", SEPARATOR_LINE);
    // The only record of the run then: its lines so far, the log file's
    // failure among them.
    if (error == 0 && !plan.log_failure.empty())
        log_replay_kept_lines();
}
