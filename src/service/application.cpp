#include "service/application.h"

#include "instance/instance.h"
#include "instance/jvm_options.h"
#include "jvm/jvm_host.h"
#include "log/log.h"
#include "platform/os_process.h"

#include <cstring>
#include <mutex>

static std::mutex g_stop_lock;
static bool g_start_running = false;
static bool g_start_returned = false;
static bool g_stop_requested = false;

int request_stop(void (*announce)())
{
    std::lock_guard<std::mutex> hold(g_stop_lock);
    if (g_start_returned || g_stop_requested)
        return 0;
    g_stop_requested = true;
    if (announce != nullptr)
        announce();
    if (g_start_running)
        invoke_stop();
    return 1;
}

// Returns true when start() may run, false when a stop request came first.
static bool begin_start()
{
    std::lock_guard<std::mutex> hold(g_stop_lock);
    g_start_running = !g_stop_requested;
    return g_start_running;
}

// From here on stop requests do nothing; waits while one is calling stop().
static void end_start()
{
    std::lock_guard<std::mutex> hold(g_stop_lock);
    g_start_returned = true;
}

int run_start()
{
    if (!begin_start()) {
        log_line("Stop requested before the application started: start() is not called");
        end_start();
        return START_RETURNED;
    }
    log_line("Invoking main");
    int result = invoke_start();
    end_start();
    return result;
}

int application_exit_code(int start_result)
{
    switch (start_result) {
    case START_NO_CLASS:
        return APPLICATION_NO_CLASS;
    case START_NO_METHOD:
        return APPLICATION_NO_START;
    case START_THREW:
        return APPLICATION_START_THREW;
    default:
        return 0;
    }
}

// Sets the variable named before the first '=' of assignment to the rest,
// replacing its whole value. An empty assignment sets nothing.
static void apply_assignment(const char* assignment)
{
    const char* equals = strchr(assignment, '=');
    if (equals == nullptr)
        return;
    char name[PATH_CAPACITY];
    size_t length = static_cast<size_t>(equals - assignment);
    if (length >= sizeof name)
        return;
    memcpy(name, assignment, length);
    name[length] = '\0';
    os_setenv(name, equals + 1);
}

void prepare_instance(const char* instance_name)
{
    int result = build_paths(instance_name);
    if (result != 0) {
        log_format("build_paths() failed: %d", result);
        terminate(-1);
    }
    for (const char* assignment : g_search_assignments) {
        if (assignment[0] != '\0')
            log_format("JVM '%s'", assignment);
    }
    log_format("JVM '%s'", g_class_path_option);
    for (int i = 1; i < g_jvm_option_count; ++i)
        log_format("JVM '%s'", g_jvm_options[i]);
    for (const char* assignment : g_search_assignments)
        apply_assignment(assignment);
}

void create_jvm_or_terminate()
{
    log_line("Starting JVM");
    if (!create_jvm(g_java_home, g_jvm_options, g_jvm_option_count)) {
        log_line("Create JVM failed!");
        terminate(-1);
    }
}
