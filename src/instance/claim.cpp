#include "instance/steps.h"

#include "instance/path_text.h"
#include "platform/os_claim.h"
#include "platform/os_errors.h"

#include <thread>

static const char INSTANCE_LOCK_FILE[] = "zrsvc.lock";
static const std::chrono::milliseconds POLL_INTERVAL(50);

run_failure claim_instance(const std::string& instance_folder, const char* instance_name,
                           std::chrono::milliseconds held_wait)
{
    const std::string path = instance_folder + path_separator() + INSTANCE_LOCK_FILE;
    const auto deadline = std::chrono::steady_clock::now() + held_wait;
    os_error error;
    for (;;) {
        switch (os_claim_instance(path.c_str(), &error)) {
        case OS_CLAIM_TAKEN:
        case OS_CLAIM_NO_FOLDER:
            return {};
        case OS_CLAIM_LINK:
            return fail("zrsvc.lock in the instance folder is a link: refused, the claim is never taken through a "
                        "link");
        case OS_CLAIM_FAILED:
            return fail_format("Cannot claim the instance: %s('%s') failed: %lu", error.call, path.c_str(),
                               error.code);
        case OS_CLAIM_HELD:
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline)
            break;
        std::this_thread::sleep_for(POLL_INTERVAL);
    }
    // What the run knows: a process holds the lock, which only a run of the
    // instance takes.
    run_failure held = fail_on_console("Instance '");
    held.reason += instance_name;
    held.reason += "' is already running: another process holds the lock on zrsvc.lock";
    return held;
}
