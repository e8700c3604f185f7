#include "platform/os_claim.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

int os_claim_instance(const char* path, const char** failed_call)
{
    // Close-on-exec: a child process of the VM that outlived this one would
    // otherwise keep the instance taken. Never closed: the claim lasts as
    // long as the process. Never through a link: it would write another
    // file, or claim nothing when it leads nowhere.
    *failed_call = "open";
    int fd = open(path, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0 && errno == ELOOP)
        return OS_CLAIM_LINK;
    if (fd < 0)
        return (errno == ENOENT || errno == ENOTDIR) ? OS_CLAIM_NO_FOLDER : OS_CLAIM_FAILED;
    *failed_call = "flock";
    if (flock(fd, LOCK_EX | LOCK_NB) == 0)
        return OS_CLAIM_TAKEN;
    int error = errno;
    close(fd);
    errno = error;
    return error == EWOULDBLOCK ? OS_CLAIM_HELD : OS_CLAIM_FAILED;
}
