#include "log/log.h"
#include "log/run_failure.h"

#include "log/captured_output.h"
#include "log/rolling_file.h"
#include "platform/os_files.h"
#include "platform/os_time.h"
#include "text/bounded_text.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <string>
#include <unistd.h>

// The log's state: every field is guarded by lock (a line, a switch and a
// close are one unit each), except the two of log_cannot_log, guarded by
// cannot_log_lock: it is called with lock held, or not. Every field has an
// initializer, so that it is initialized as a constant, before anything runs.
struct log_room {
    std::mutex lock;
    FILE* sink = nullptr;          // standard output, or null (always null while file is set)
    rolling_file* file = nullptr;  // the log file; given by log_to_file for the process's life
    bool echo = false;
    char shown[4 * LONG_TEXT_CAPACITY] = {}; // a message with its control characters escaped
    // Where the fatal exit tells its reason, null when nowhere; the last
    // message logged, as shown, while it is set.
    void (*tell_fatal)(const char* reason) = nullptr;
    char last_shown[4 * LONG_TEXT_CAPACITY] = {};
    // The lines written to standard output as the sink while they are kept
    // (log_keep_early_lines), null when they are not.
    std::string* kept = nullptr;
    // A line as it goes into the log file, and as it is shown on the console.
    char file_line[4 * LONG_TEXT_CAPACITY + 256] = {};
    char console_line[4 * LONG_TEXT_CAPACITY + 256] = {};
    std::mutex cannot_log_lock;
    char cannot_log_line[LONG_TEXT_CAPACITY + 256] = {};
};
static log_room g_log;

// Writes a timestamped line to standard output (1) or error (2) through the
// descriptor, past the C runtime's stream and its lock: the VM calls its
// print hook while it holds the lock of the stream it prints to (its unified
// logging does), and the hook logs, so a line written under the log's lock
// must never wait for that stream's lock. Standard output is unbuffered
// (os_process_init), so nothing of the stream's waits to come before it.
static void write_console_line(int descriptor, char* buffer, size_t capacity, const char* stamp, const char* text)
{
    int length = snprintf(buffer, capacity, "%s - %s\n", stamp, text);
    size_t left = length < 0 ? 0 : static_cast<size_t>(length) < capacity ? static_cast<size_t>(length) : capacity - 1;
    for (const char* at = buffer; left > 0;) {
        long written = static_cast<long>(write(descriptor, at, static_cast<unsigned>(left)));
        if (written <= 0)
            return;
        at += written;
        left -= static_cast<size_t>(written);
    }
}

// Writes a line to the log file, unbuffered: it is on disk when this returns.
// A write that fails is said once where the run can still be heard
// (log_cannot_log); a roll that fails, in the log itself. Call with
// g_log.lock held.
static void write_file_line(const char* stamp, const char* shown)
{
    int length = snprintf(g_log.file_line, sizeof g_log.file_line, "%s - %s%s", stamp, shown, OS_LINE_END);
    bool was_failing = g_log.file->write_failed;
    if (rolling_write(g_log.file, g_log.file_line, static_cast<size_t>(length)) != 0 && !was_failing) {
        char failure[200];
        snprintf(failure, sizeof failure, "Cannot write the log file: %s", strerror(errno));
        log_cannot_log(failure);
    }
    // A roll that failed is said in the log itself, unless the log cannot
    // be written either.
    if (!g_log.file->roll_failed || g_log.file->write_failed || g_log.file->news[0] == '\0') {
        g_log.file->news[0] = '\0';
        return;
    }
    length = snprintf(g_log.file_line, sizeof g_log.file_line, "%s - %s%s", stamp, g_log.file->news, OS_LINE_END);
    g_log.file->news[0] = '\0';
    rolling_write(g_log.file, g_log.file_line, static_cast<size_t>(length));
}

void log_to_console()
{
    std::lock_guard<std::mutex> hold(g_log.lock);
    g_log.sink = stdout;
    g_log.file = nullptr;
}

void log_echo_to_console(bool echo)
{
    std::lock_guard<std::mutex> hold(g_log.lock);
    g_log.echo = echo;
}

bool log_echoes_to_console()
{
    std::lock_guard<std::mutex> hold(g_log.lock);
    return g_log.echo;
}

// Writes the kept lines to stream, when it is given, and keeps no more. Call
// with g_log.lock held.
static void hand_kept_lines_to(FILE* stream)
{
    if (g_log.kept != nullptr && stream != nullptr) {
        fputs(g_log.kept->c_str(), stream);
        fflush(stream);
    }
    delete g_log.kept;
    g_log.kept = nullptr;
}

void log_to_file(rolling_file* file)
{
    std::lock_guard<std::mutex> hold(g_log.lock);
    g_log.sink = nullptr;
    g_log.file = file;
    // Line by line, each with the file's line end.
    if (g_log.kept != nullptr)
        for (size_t at = 0, end; (end = g_log.kept->find('\n', at)) != std::string::npos; at = end + 1) {
            std::string line = g_log.kept->substr(at, end - at) + OS_LINE_END;
            rolling_write(file, line.data(), line.size());
        }
    hand_kept_lines_to(nullptr);
}

void log_keep_early_lines()
{
    std::lock_guard<std::mutex> hold(g_log.lock);
    if (g_log.kept == nullptr)
        g_log.kept = new std::string;
}

void log_replay_kept_lines()
{
    std::lock_guard<std::mutex> hold(g_log.lock);
    hand_kept_lines_to(stdout);
}

void log_drop_kept_lines()
{
    std::lock_guard<std::mutex> hold(g_log.lock);
    hand_kept_lines_to(nullptr);
}

bool log_sink_is_file()
{
    std::lock_guard<std::mutex> hold(g_log.lock);
    return g_log.file != nullptr;
}

// The local time as "YYYY-MM-DD HH:MM:SS". The C runtime of Windows knows no
// %F and %T, so the fields are spelled out. Empty when the clock cannot be read.
static void format_timestamp(char* buffer, size_t capacity)
{
    struct tm local = {};
    buffer[0] = '\0';
    if (os_local_time(time(nullptr), &local) == 0)
        strftime(buffer, capacity, "%Y-%m-%d %H:%M:%S", &local);
}

// The message as it is shown: a line break in a file name or an instance
// name must not start a line of its own, so every control character is
// escaped, except a tab that leads the message, which starts the frames of a
// Java stack trace ("\tat ...") and cannot forge a line. Call with
// g_log.lock held.
static const char* shown_text(const char* message)
{
    const char* rest = message[0] == '\t' ? message + 1 : message;
    const char* at = rest;
    while (*at != '\0' && !is_control_character(*at))
        ++at;
    if (*at == '\0')
        return message;
    g_log.shown[0] = message[0];
    // Longer than the log's 9999 characters escaped four times: shown empty.
    escape_control_characters(g_log.shown + (rest - message), sizeof g_log.shown - 1, rest);
    return g_log.shown;
}

void log_line(const char* message)
{
    char stamp[200];
    format_timestamp(stamp, sizeof stamp);
    std::lock_guard<std::mutex> hold(g_log.lock);
    if (g_log.sink == nullptr && g_log.file == nullptr && g_log.tell_fatal == nullptr)
        return;
    const char* shown = shown_text(message);
    if (g_log.tell_fatal != nullptr)
        bounded_copy(g_log.last_shown, sizeof g_log.last_shown, shown);
    if (g_log.file != nullptr)
        write_file_line(stamp, shown);
    if (g_log.sink != nullptr || (g_log.file != nullptr && g_log.echo))
        write_console_line(1, g_log.console_line, sizeof g_log.console_line, stamp, shown);
    if (g_log.kept != nullptr && g_log.sink != nullptr)
        *g_log.kept = *g_log.kept + stamp + " - " + shown + "\n";
}

// Formats into message (capacity LONG_TEXT_CAPACITY) whole, or leaves it
// empty when it does not fit. Each call formats into a buffer of its own, so
// that no thread waits for another's formatting.
__attribute__((format(printf, 2, 0))) static void format_whole_or_empty(char* message, const char* format,
                                                                       va_list arguments)
{
    int length = vsnprintf(message, LONG_TEXT_CAPACITY, format, arguments);
    if (length < 0 || length >= LONG_TEXT_CAPACITY)
        message[0] = '\0';
}

void log_format(const char* format, ...)
{
    char message[LONG_TEXT_CAPACITY];
    va_list arguments;
    va_start(arguments, format);
    format_whole_or_empty(message, format, arguments);
    va_end(arguments);
    log_line(message);
}

run_failure fail_format(const char* format, ...)
{
    char message[LONG_TEXT_CAPACITY];
    va_list arguments;
    va_start(arguments, format);
    format_whole_or_empty(message, format, arguments);
    va_end(arguments);
    return fail(message);
}

void say_on_console(const char* format, ...)
{
    char message[LONG_TEXT_CAPACITY];
    va_list arguments;
    va_start(arguments, format);
    format_whole_or_empty(message, format, arguments);
    va_end(arguments);
    printf("%s\n", message);
    std::lock_guard<std::mutex> hold(g_log.lock);
    if (g_log.tell_fatal != nullptr)
        bounded_copy(g_log.last_shown, sizeof g_log.last_shown, message);
}

void log_cannot_log(const char* message)
{
    // The thread that drains standard error would wait for itself.
    if (on_output_capture_thread())
        return;
    char stamp[200];
    format_timestamp(stamp, sizeof stamp);
    std::lock_guard<std::mutex> hold(g_log.cannot_log_lock);
    write_console_line(2, g_log.cannot_log_line, sizeof g_log.cannot_log_line, stamp, message);
}

void close_log()
{
    // Before the sink's lock: the capture's thread logs what it cannot do.
    end_output_capture();
    std::lock_guard<std::mutex> hold(g_log.lock);
    if (g_log.file != nullptr)
        rolling_close(g_log.file);
    g_log.file = nullptr;
    g_log.sink = nullptr;
}

void log_tell_fatal_reason(void (*tell)(const char* reason))
{
    std::lock_guard<std::mutex> hold(g_log.lock);
    g_log.tell_fatal = tell;
    g_log.last_shown[0] = '\0';
}

// Tells the reason of the fatal exit, the last message logged, where
// log_tell_fatal_reason said; the exit's own line when nothing was logged.
static void tell_fatal_reason(int code)
{
    std::string reason;
    void (*tell)(const char*) = nullptr;
    {
        std::lock_guard<std::mutex> hold(g_log.lock);
        tell = g_log.tell_fatal;
        reason = g_log.last_shown;
    }
    if (tell == nullptr)
        return;
    if (reason.empty())
        reason = "Terminated with exit code " + std::to_string(code) + ".";
    tell(reason.c_str());
}

void terminate(int code)
{
    tell_fatal_reason(code);
    log_format("Terminated with exit code %d.", code);
    close_log();
    exit(code);
}

void end_process_now(int code)
{
    close_log();
    _Exit(code);
}
