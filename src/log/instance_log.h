// The two files of an instance's log folder: the log, log/zrsvc-log.txt, and
// a service's captured output, log/zrsvc-stdout.txt. Both are rolled over by
// size while the run writes them (rolling_file.h), under the limits of
// ZR_LOG_LIMIT_MB and ZR_LOG_KEEP.
#pragma once
#include "log/rolling_file.h"

// Turns the log files of the runs before over, opens zrsvc-log.txt in the
// instance folder's log folder and makes it the log sink; when the runs
// before cannot be kept apart, the new run goes on in the file below a line
// of dashes, and says why. Without a log folder the sink stays standard
// output; a log file that cannot be opened is said where the run can still be
// heard (log_cannot_log) and on standard output, the sink.
void open_instance_log(const char* instance_folder, rolling_limits limits);

// Sends the process's standard output and error, the VM's and the
// application's included, to zrsvc-stdout.txt beside the instance's log file
// through the output capture (output_capture.h), under the log's limits.
// Runs after open_instance_log; does nothing without a log folder. When the
// log file could not be opened, says so there too.
void capture_std_streams();
