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

// Standard output or null; the log file when g_file is set.
static FILE* g_sink = nullptr;
static rolling_file* g_file = nullptr;
static std::mutex g_sink_lock; // a line, a switch and a close are one unit each
static bool g_echo = false;
static bool g_write_failed = false; // a line could not be written to the log file; guarded by g_sink_lock
// A message with its control characters escaped; guarded by g_sink_lock.
static char g_shown[4 * LONG_TEXT_CAPACITY];
// Where the fatal exit tells its reason, null when nowhere; the last message
// logged, as shown, while it is set. Both guarded by g_sink_lock.
static void (*g_tell_fatal)(const char* reason) = nullptr;
static char g_last_shown[4 * LONG_TEXT_CAPACITY];
// The lines written to standard output as the sink while they are kept
// (log_keep_early_lines), null when they are not. Guarded by g_sink_lock.
static std::string* g_kept = nullptr;
// A line as it goes into the log file, and as it is shown on the console;
// guarded by g_sink_lock.
static char g_file_line[4 * LONG_TEXT_CAPACITY + 256];
static char g_console_line[4 * LONG_TEXT_CAPACITY + 256];

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
// g_sink_lock held.
static void write_file_line(const char* stamp, const char* shown)
{
    int length = snprintf(g_file_line, sizeof g_file_line, "%s - %s%s", stamp, shown, OS_LINE_END);
    int error = rolling_write(g_file, g_file_line, static_cast<size_t>(length)) == 0 ? 0 : errno;
    if (error != 0 && !g_write_failed) {
        g_write_failed = true;
        char failure[200];
        snprintf(failure, sizeof failure, "Cannot write the log file: %s", strerror(error));
        log_cannot_log(failure);
    }
    g_write_failed = error != 0;
    if (!g_file->roll_failed || g_file->news[0] == '\0') {
        g_file->news[0] = '\0';
        return;
    }
    length = snprintf(g_file_line, sizeof g_file_line, "%s - %s%s", stamp, g_file->news, OS_LINE_END);
    g_file->news[0] = '\0';
    rolling_write(g_file, g_file_line, static_cast<size_t>(length));
}

void log_to_console()
{
    std::lock_guard<std::mutex> hold(g_sink_lock);
    g_sink = stdout;
    g_file = nullptr;
}

void log_echo_to_console(bool echo)
{
    std::lock_guard<std::mutex> hold(g_sink_lock);
    g_echo = echo;
}

bool log_echoes_to_console()
{
    std::lock_guard<std::mutex> hold(g_sink_lock);
    return g_echo;
}

// Writes the kept lines to stream, when it is given, and keeps no more. Call
// with g_sink_lock held.
static void hand_kept_lines_to(FILE* stream)
{
    if (g_kept != nullptr && stream != nullptr) {
        fputs(g_kept->c_str(), stream);
        fflush(stream);
    }
    delete g_kept;
    g_kept = nullptr;
}

void log_to_file(rolling_file* file)
{
    std::lock_guard<std::mutex> hold(g_sink_lock);
    g_sink = nullptr;
    g_file = file;
    // Line by line, each with the file's line end.
    if (g_kept != nullptr)
        for (size_t at = 0, end; (end = g_kept->find('\n', at)) != std::string::npos; at = end + 1) {
            std::string line = g_kept->substr(at, end - at) + OS_LINE_END;
            rolling_write(file, line.data(), line.size());
        }
    hand_kept_lines_to(nullptr);
}

void log_keep_early_lines()
{
    std::lock_guard<std::mutex> hold(g_sink_lock);
    if (g_kept == nullptr)
        g_kept = new std::string;
}

void log_replay_kept_lines()
{
    std::lock_guard<std::mutex> hold(g_sink_lock);
    hand_kept_lines_to(stdout);
}

void log_drop_kept_lines()
{
    std::lock_guard<std::mutex> hold(g_sink_lock);
    hand_kept_lines_to(nullptr);
}

bool log_sink_is_file()
{
    std::lock_guard<std::mutex> hold(g_sink_lock);
    return g_file != nullptr;
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
// g_sink_lock held.
static const char* shown_text(const char* message)
{
    const char* rest = message[0] == '\t' ? message + 1 : message;
    const char* at = rest;
    while (*at != '\0' && !is_control_character(*at))
        ++at;
    if (*at == '\0')
        return message;
    g_shown[0] = message[0];
    // Longer than the log's 9999 characters escaped four times: shown empty.
    escape_control_characters(g_shown + (rest - message), sizeof g_shown - 1, rest);
    return g_shown;
}

void log_line(const char* message)
{
    char stamp[200];
    format_timestamp(stamp, sizeof stamp);
    std::lock_guard<std::mutex> hold(g_sink_lock);
    if (g_sink == nullptr && g_file == nullptr && g_tell_fatal == nullptr)
        return;
    const char* shown = shown_text(message);
    if (g_tell_fatal != nullptr)
        bounded_copy(g_last_shown, sizeof g_last_shown, shown);
    if (g_file != nullptr)
        write_file_line(stamp, shown);
    if (g_sink != nullptr || (g_file != nullptr && g_echo))
        write_console_line(1, g_console_line, sizeof g_console_line, stamp, shown);
    if (g_kept != nullptr && g_sink != nullptr)
        *g_kept = *g_kept + stamp + " - " + shown + "\n";
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
    std::lock_guard<std::mutex> hold(g_sink_lock);
    if (g_tell_fatal != nullptr)
        bounded_copy(g_last_shown, sizeof g_last_shown, message);
}

void log_cannot_log(const char* message)
{
    // The thread that drains standard error would wait for itself.
    if (on_output_capture_thread())
        return;
    char stamp[200];
    format_timestamp(stamp, sizeof stamp);
    // Its own buffer: called with the log's lock held, or not.
    static std::mutex lock;
    static char line[LONG_TEXT_CAPACITY + 256];
    std::lock_guard<std::mutex> hold(lock);
    write_console_line(2, line, sizeof line, stamp, message);
}

void close_log()
{
    // Before the sink's lock: the capture's thread logs what it cannot do.
    end_output_capture();
    std::lock_guard<std::mutex> hold(g_sink_lock);
    if (g_file != nullptr)
        rolling_close(g_file);
    g_file = nullptr;
    g_sink = nullptr;
}

void log_tell_fatal_reason(void (*tell)(const char* reason))
{
    std::lock_guard<std::mutex> hold(g_sink_lock);
    g_tell_fatal = tell;
    g_last_shown[0] = '\0';
}

// Tells the reason of the fatal exit, the last message logged, where
// log_tell_fatal_reason said; the exit's own line when nothing was logged.
static void tell_fatal_reason(int code)
{
    std::string reason;
    void (*tell)(const char*) = nullptr;
    {
        std::lock_guard<std::mutex> hold(g_sink_lock);
        tell = g_tell_fatal;
        reason = g_last_shown;
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
