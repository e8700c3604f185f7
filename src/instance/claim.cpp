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
    for (;;) {
        switch (os_claim_instance(path.c_str())) {
        case OS_CLAIM_TAKEN:
        case OS_CLAIM_NO_FOLDER:
            return {};
        case OS_CLAIM_LINK:
            return fail("zrsvc.lock in the instance folder is a link: refused, the claim is never taken through a "
                        "link");
        case OS_CLAIM_FAILED:
            return fail_format("Cannot lock zrsvc.lock in the instance folder: %d",
                               static_cast<int>(os_last_error()));
        default:
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline)
            break;
        std::this_thread::sleep_for(POLL_INTERVAL);
    }
    run_failure held = fail_on_console("Instance '");
    held.reason += instance_name;
    held.reason += "' is already running";
    return held;
}
