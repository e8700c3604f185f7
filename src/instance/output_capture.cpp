#include "instance/instance.h"
#include "instance/steps.h"

#include "log/captured_output.h"
#include "log/log.h"

void capture_std_streams(const instance_plan& plan)
{
    // Without a log folder nothing of the run is kept.
    if (!log_sink_is_file() && plan.log_failure.empty())
        return;
    std::string stem = log_folder_path(plan.instance_folder, "zrsvc-stdout");
    // The only record of the run then: its lines so far, the log file's
    // failure among them.
    if (begin_output_capture(stem.c_str(), plan.log_limits) == 0 && !plan.log_failure.empty())
        log_replay_kept_lines();
}
