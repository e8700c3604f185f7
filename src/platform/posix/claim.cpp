#include "platform/os_claim.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

os_claim_result os_claim_instance(const char* path, os_error* error)
{
    // Close-on-exec: a child process of the VM that outlived this one would
    // otherwise keep the instance taken. Never closed: the claim lasts as
    // long as the process. Never through a link: it would write another
    // file, or claim nothing when it leads nowhere.
    int fd = open(path, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0 && errno == ELOOP)
        return OS_CLAIM_LINK;
    if (fd < 0 && (errno == ENOENT || errno == ENOTDIR))
        return OS_CLAIM_NO_FOLDER;
    if (fd < 0) {
        *error = os_failed("open");
        return OS_CLAIM_FAILED;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) == 0)
        return OS_CLAIM_TAKEN;
    bool held = errno == EWOULDBLOCK;
    *error = os_failed("flock");
    close(fd);
    return held ? OS_CLAIM_HELD : OS_CLAIM_FAILED;
}
