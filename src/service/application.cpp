#include "service/stop_request.h"

#include "jvm/jvm_host.h"

#include <mutex>

static std::mutex g_stop_lock;
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
    invoke_stop();
    return 1;
}

void mark_start_returned()
{
    std::lock_guard<std::mutex> hold(g_stop_lock);
    g_start_returned = true;
}
