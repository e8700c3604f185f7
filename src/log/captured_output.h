// The capture of a service's standard output and error: what the VM and the
// application write there goes into a pipe whose other end the host owns; a
// thread of the host's drains it as it comes into a rolling file
// (rolling_file.h), so that the writers never wait on the disk for longer
// than a write to a file would take, and the file is rolled over between
// lines.
#pragma once
#include "log/rolling_file.h"

// Opens the rolling file stem + ".txt" for the run (turning over the files of
// the runs before), puts the pipe under the process's standard output and
// error (those of libraries loaded later, the VM's, included) and starts the
// thread that drains it. When the files of the runs before cannot be turned
// over, the run goes on at the end of the file below a line of dashes, and
// the log says why. Returns 0, or -1 (logged, the standard streams left as
// they were) when the file cannot be opened or the pipe made.
int begin_output_capture(const char* stem, rolling_limits limits);

// Puts everything written to the standard streams until now into the files,
// the last line too when it is unfinished, and closes them: every end of the
// run calls it (close_log). Waits for the drain at most 10 seconds (logged
// when it does not finish). Any thread, any number of times; nothing happens
// without a capture.
void end_output_capture();

// True on the thread that drains the capture: it must not write to the
// standard streams it drains.
bool on_output_capture_thread();
