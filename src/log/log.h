// The log sink: every operational message of the process becomes one
// timestamped line, "YYYY-MM-DD HH:MM:SS - message", flushed at once. The sink
// is standard output until the instance's log file is opened. Any thread may
// log at any time: the VM calls its hooks on threads of its own.
#pragma once
#include <cstdio>

struct rolling_file;

// Points the sink at standard output.
void log_to_console();

// Makes an open rolling file (rolling_file.h) the sink: each line goes whole
// into one file, and a failed roll is said there once. It is closed by
// close_log or terminate. The lines kept while the sink was standard output
// come first in it.
void log_to_file(rolling_file* file);

// From now on, the lines written while the sink is standard output are kept
// as well, until the log file takes them (log_to_file),
// log_replay_kept_lines or log_drop_kept_lines: before the log is open,
// standard output may lead nowhere (a service).
void log_keep_early_lines();

// Writes the kept lines on standard output again, once it leads to a file
// (a service's captured output), and keeps no more.
void log_replay_kept_lines();

// Keeps no more lines, dropping those kept.
void log_drop_kept_lines();

// In the foreground every line is shown on standard output as well as written
// to the log file.
void log_echo_to_console(bool echo);

// True when lines are echoed to the console (the foreground).
bool log_echoes_to_console();

// True when the sink is a log file (not standard output, not absent).
bool log_sink_is_file();

// Writes one line with the message, its control characters shown escaped
// (\n, \x07) except a leading tab. Nothing happens when there is no sink.
// The first line that cannot be written to a log file is said with
// log_cannot_log.
void log_line(const char* message);

// Formats a message as printf does and logs it. A message longer than 9999
// characters is not cut: the line is written with an empty message.
void log_format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Says that the log file cannot be opened or written, where the run can still
// be heard: one timestamped line on standard error (the console in the
// foreground, the captured output of a service once it is captured). The one
// place for every further channel of that news.
void log_cannot_log(const char* message);

// Prints a message for the person at the console on standard output, without
// a timestamp. Where no console is (a service), the fatal exit that may follow
// tells it as its reason, as it would a line logged last.
void say_on_console(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Ends the capture of the standard streams, if any (captured_output.h), for
// every end of the run passes here, then closes the log file; later lines go
// nowhere.
void close_log();

// Makes the fatal exit (terminate) call tell with its reason, the text of the
// last line logged before it (its own line when none was), before it logs its
// exit code. Nothing is told while tell is null.
void log_tell_fatal_reason(void (*tell)(const char* reason));

// The fatal exit: logs the exit code, closes the log file and ends the
// process through the standard exit. Never runs while a VM exists.
[[noreturn]] void terminate(int code);

// Ends the process at once with code: closes the log file and exits without
// running the exit functions or waiting for any thread (a VM that still
// exists included). For the ends that must not wait for the application.
[[noreturn]] void end_process_now(int code);
