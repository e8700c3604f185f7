#include "platform/os_notify.h"

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

int os_notify_service_manager(const char* state, const char** failed_call)
{
    const char* name = getenv("NOTIFY_SOCKET");
    if (name == nullptr || name[0] == '\0')
        return 1;
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    size_t length = strlen(name);
    if (length > sizeof address.sun_path || (name[0] != '@' && length == sizeof address.sun_path)) {
        *failed_call = "connect";
        errno = ENAMETOOLONG;
        return -1;
    }
    memcpy(address.sun_path, name, length);
    // An abstract name: a zero byte in place of the '@', and no terminator.
    if (name[0] == '@')
        address.sun_path[0] = '\0';
    socklen_t address_length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + length);
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *failed_call = "socket";
        return -1;
    }
    // Never blocks the stop road on a manager that does not read.
    ssize_t sent = sendto(fd, state, strlen(state), MSG_DONTWAIT | MSG_NOSIGNAL,
                          reinterpret_cast<const sockaddr*>(&address), address_length);
    int error = errno;
    close(fd);
    if (sent >= 0)
        return 0;
    *failed_call = "sendto";
    errno = error;
    return -1;
}
