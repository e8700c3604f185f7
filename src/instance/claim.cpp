#include "instance/instance.h"

#include "instance/path_text.h"
#include "log/log.h"
#include "platform/os_claim.h"
#include "platform/os_process.h"

#include <chrono>
#include <cstdio>
#include <thread>

static const char INSTANCE_LOCK_FILE[] = "zrsvc.lock";

// A service's clean-up after its stopped report lasts 30 seconds at most; a
// little more lets its process end.
static const std::chrono::seconds CLOSING_WAIT(35);
static const std::chrono::milliseconds POLL_INTERVAL(50);

void claim_instance(const char* instance_folder, const char* instance_name)
{
    // The instance folder's path fits PATH_CAPACITY, so this always fits.
    char path[PATH_CAPACITY + sizeof INSTANCE_LOCK_FILE];
    path[0] = '\0';
    append_pieces(path, sizeof path, {instance_folder, path_separator(), INSTANCE_LOCK_FILE});
    const auto deadline = std::chrono::steady_clock::now() + CLOSING_WAIT;
    bool waiting = false;
    for (;;) {
        switch (os_claim_instance(path)) {
        case OS_CLAIM_TAKEN:
        case OS_CLAIM_NO_FOLDER:
            return;
        case OS_CLAIM_LINK:
            log_line("zrsvc.lock in the instance folder is a link: refused, the claim is never taken through a link");
            terminate(-1);
        case OS_CLAIM_FAILED:
            log_format("Cannot lock zrsvc.lock in the instance folder: %d", static_cast<int>(os_last_error()));
            terminate(-1);
        case OS_CLAIM_CLOSING:
            if (std::chrono::steady_clock::now() < deadline) {
                if (!waiting)
                    printf("Instance '%s' is finishing its previous run: waiting for it\n", instance_name);
                waiting = true;
                std::this_thread::sleep_for(POLL_INTERVAL);
                continue;
            }
            break;
        default:
            break;
        }
        printf("Instance '%s' is already running\n", instance_name);
        terminate(-1);
    }
}

void mark_instance_closing()
{
    if (os_mark_claim_closing() != 0)
        log_format("Cannot mark the instance as closing in zrsvc.lock: %d", static_cast<int>(os_last_error()));
}
