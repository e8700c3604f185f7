#include "log/log.h"

#include "jvm/jvm_host.h"
#include "platform/os_process.h"
#include "text/bounded_text.h"

#include <cstdlib>
#include <ctime>
#include <mutex>

static FILE* g_sink = nullptr;
static std::mutex g_sink_lock; // a line, a switch and a close are one unit each
static bool g_echo = false;

void log_to_console()
{
    std::lock_guard<std::mutex> hold(g_sink_lock);
    g_sink = stdout;
}

void log_echo_to_console(bool echo)
{
    std::lock_guard<std::mutex> hold(g_sink_lock);
    g_echo = echo;
}

void log_to_file(FILE* file)
{
    std::lock_guard<std::mutex> hold(g_sink_lock);
    g_sink = file;
}

bool log_sink_is_file()
{
    std::lock_guard<std::mutex> hold(g_sink_lock);
    return g_sink != nullptr && g_sink != stdout;
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

void log_line(const char* message)
{
    char stamp[200];
    format_timestamp(stamp, sizeof stamp);
    std::lock_guard<std::mutex> hold(g_sink_lock);
    if (g_sink == nullptr)
        return;
    fprintf(g_sink, "%s - %s\n", stamp, message);
    fflush(g_sink);
    if (g_echo && g_sink != stdout)
        fprintf(stdout, "%s - %s\n", stamp, message);
}

// Each call formats into a buffer of its own, so that any thread may log at
// any time: the VM calls its hooks on threads of its own, and a timeout
// fires on a thread of its own.
static void log_whole_or_empty(char* message, int length)
{
    if (length < 0 || length >= LONG_TEXT_CAPACITY)
        message[0] = '\0';
    log_line(message);
}

void log_format(const char* format, const char* text)
{
    char message[LONG_TEXT_CAPACITY];
    log_whole_or_empty(message, snprintf(message, sizeof message, format, text));
}

void log_format(const char* format, int value)
{
    char message[LONG_TEXT_CAPACITY];
    log_whole_or_empty(message, snprintf(message, sizeof message, format, value));
}

static void close_log_file()
{
    std::lock_guard<std::mutex> hold(g_sink_lock);
    if (g_sink != nullptr && g_sink != stdout)
        fclose(g_sink);
    g_sink = nullptr;
}

void terminate(int code)
{
    destroy_jvm();
    log_format("Terminated with exit code %d.", code);
    close_log_file();
    exit(code);
}

void end_process_now(int code)
{
    close_log_file();
    _Exit(code);
}

void release_all()
{
    destroy_jvm();
    close_log_file();
}
