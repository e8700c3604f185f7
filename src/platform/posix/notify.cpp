#include "platform/os_notify.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

os_notify_result os_notify_service_manager(const char* state, bool wait, os_error* error, const char** refusal)
{
    const char* name = getenv("NOTIFY_SOCKET");
    if (name == nullptr || name[0] == '\0')
        return OS_NOTIFY_NO_MANAGER;
    // A relative path would name another socket in each working directory.
    if (name[0] != '/' && name[0] != '@') {
        *refusal = "is neither an absolute path nor an abstract name ('@...')";
        return OS_NOTIFY_REFUSED;
    }
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    size_t length = strlen(name);
    if (length > sizeof address.sun_path || (name[0] != '@' && length == sizeof address.sun_path)) {
        *refusal = "is longer than a socket address holds";
        return OS_NOTIFY_REFUSED;
    }
    memcpy(address.sun_path, name, length);
    // An abstract name: a zero byte in place of the '@', and no terminator.
    if (name[0] == '@')
        address.sun_path[0] = '\0';
    socklen_t address_length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + length);
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *error = os_failed("socket");
        return OS_NOTIFY_FAILED;
    }
    // Never blocks the run for good on a manager that does not read.
    timeval limit = {OS_NOTIFY_WAIT_MILLISECONDS / 1000, 0};
    if (wait && setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit) != 0) {
        *error = os_failed("setsockopt");
        close(fd);
        return OS_NOTIFY_FAILED;
    }
    ssize_t sent = sendto(fd, state, strlen(state), (wait ? 0 : MSG_DONTWAIT) | MSG_NOSIGNAL,
                          reinterpret_cast<const sockaddr*>(&address), address_length);
    if (sent < 0)
        *error = os_failed("sendto");
    close(fd);
    return sent < 0 ? OS_NOTIFY_FAILED : OS_NOTIFY_SENT;
}
