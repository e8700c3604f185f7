#include "instance/instance.h"

#include "instance/path_text.h"
#include "log/log.h"
#include "platform/os_claim.h"
#include "platform/os_process.h"

#include <chrono>
#include <cstdio>
#include <thread>

static const char INSTANCE_LOCK_FILE[] = "zrsvc.lock";

// A service reports its end (STOPPED) as the very last thing it does; its
// process is gone moments later. A run started at once after that report
// finds the claim still held for that moment, and tries again for this long
// before it says the instance is running: far less than the time the SCM
// gives a new run to reach it (10 s under Wine, 30 s on Windows).
static const std::chrono::seconds HELD_WAIT(3);
static const std::chrono::milliseconds POLL_INTERVAL(50);

void claim_instance(const char* instance_folder, const char* instance_name)
{
    // The instance folder's path fits PATH_CAPACITY, so this always fits.
    char path[PATH_CAPACITY + sizeof INSTANCE_LOCK_FILE];
    path[0] = '\0';
    append_pieces(path, sizeof path, {instance_folder, path_separator(), INSTANCE_LOCK_FILE});
    const auto deadline = std::chrono::steady_clock::now() + HELD_WAIT;
    const char* failed_call = "";
    for (;;) {
        switch (os_claim_instance(path, &failed_call)) {
        case OS_CLAIM_TAKEN:
        case OS_CLAIM_NO_FOLDER:
            return;
        case OS_CLAIM_LINK:
            log_line("zrsvc.lock in the instance folder is a link: refused, the claim is never taken through a link");
            terminate(-1);
        case OS_CLAIM_FAILED:
            log_format("Cannot claim the instance: %s('%s') failed: %lu", failed_call, path, os_last_error());
            terminate(-1);
        default:
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline)
            break;
        std::this_thread::sleep_for(POLL_INTERVAL);
    }
    // What the run knows: a process holds the lock, which only a run of the
    // instance takes.
    say_on_console("Instance '%s' is already running: another process holds the lock on zrsvc.lock", instance_name);
    terminate(-1);
}
