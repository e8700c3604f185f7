#include "platform/os_environment.h"
#include "platform/os_errors.h"
#include "platform/os_files.h"
#include "platform/os_paths.h"
#include "platform/os_process.h"
#include "platform/os_time.h"
#include "platform/posix/stamp.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

const char OS_PATH_SEPARATOR = '/';
const char OS_LINE_END[] = "\n";
const char OS_CLASS_PATH_SEPARATOR = ':';

// PATH only leads to programs here: the application keeps finding the
// system's, with the Java installation's tools first. The VM builds
// java.library.path from LD_LIBRARY_PATH as it is when the VM is created, so
// System.loadLibrary finds the drivers' native libraries in jdbc/dll.
const os_search_variable OS_SEARCH_VARIABLES[OS_SEARCH_VARIABLE_LIMIT + 1] = {
    {"PATH", true, {{OS_BELOW_JAVA_HOME, "bin"}, {}}},
    {"LD_LIBRARY_PATH", true, {{OS_BELOW_BASE, "jdbc/dll"}, {}}},
    {},
};

const char* os_search_default(const char* name)
{
    // Read once, by the main thread before any other exists.
    static char path[1024];
    if (strcmp(name, "PATH") != 0)
        return nullptr;
    size_t length = confstr(_CS_PATH, path, sizeof path);
    return length > 0 && length <= sizeof path ? path : nullptr;
}

// A standard descriptor that is not open would be taken by the next file the
// process opens, the log file say, and everything written to standard output
// or error would land in it.
static void open_missing_std_descriptors()
{
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF)
            continue;
        // The lowest free descriptor: fd itself.
        if (open("/dev/null", O_RDWR) < 0)
            fprintf(stderr, "open('/dev/null') failed: %d\n", errno);
    }
}

void os_process_init()
{
    open_missing_std_descriptors();
    setvbuf(stdout, nullptr, _IONBF, 0);
    // Once the reader of standard output has gone, a console write fails
    // instead of ending the process. The VM installs a handler of its own
    // that does the same; its children start with the default again.
    signal(SIGPIPE, SIG_IGN);
}

unsigned long os_last_error()
{
    return static_cast<unsigned long>(errno);
}

int os_error_number(unsigned long os_error)
{
    return static_cast<int>(os_error);
}

int os_module_path(char* buffer, unsigned capacity)
{
    if (capacity == 0)
        return 0;
    ssize_t length = readlink("/proc/self/exe", buffer, capacity);
    if (length <= 0)
        return 0;
    // The link's text is cut to the room without a word: a text that fills
    // it may be cut, and leaves no room for the terminator anyway.
    if (static_cast<size_t>(length) >= capacity) {
        buffer[0] = '\0';
        return -1;
    }
    buffer[length] = '\0';
    return static_cast<int>(length);
}

bool os_path_is_absolute(const char* path)
{
    return path[0] == '/';
}

void os_use_native_separators(char*) {}

int os_set_current_dir(const char* path)
{
    return chdir(path) == 0 ? 0 : -1;
}

const char* os_getenv(const char* name)
{
    return getenv(name);
}

os_error os_setenv(const char* name, const char* value)
{
    return setenv(name, value, 1) == 0 ? os_error{} : os_failed("setenv");
}

// Never through a link: the instance folder belongs to the application's
// user, whose link would lead a run by root to write wherever it points.
static FILE* open_text(const char* path, int flags, const char* mode)
{
    int fd = open(path, O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | flags, 0644);
    if (fd < 0)
        return nullptr;
    FILE* stream = fdopen(fd, mode);
    if (stream == nullptr) {
        int error = errno;
        close(fd);
        errno = error;
    }
    return stream;
}

FILE* os_open_text_for_writing(const char* path)
{
    return open_text(path, O_TRUNC, "w");
}

FILE* os_open_text_for_appending(const char* path)
{
    return open_text(path, O_APPEND, "a");
}

FILE* os_open_bytes_for_writing(const char* path, bool append)
{
    return append ? os_open_text_for_appending(path) : os_open_text_for_writing(path);
}

os_file_result os_read_file(const char* path, char* buffer, size_t capacity, size_t* length, os_error* error)
{
    *length = 0;
    // Without waiting: a FIFO would block the open until a writer comes.
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *error = os_failed("open");
        return (errno == ENOENT || errno == ENOTDIR) ? OS_FILE_MISSING : OS_FILE_FAILED;
    }
    struct stat info;
    if (fstat(fd, &info) != 0) {
        *error = os_failed("fstat");
        close(fd);
        return OS_FILE_FAILED;
    }
    if (!S_ISREG(info.st_mode)) {
        close(fd);
        return OS_FILE_NOT_REGULAR;
    }
    while (*length < capacity) {
        ssize_t got = read(fd, buffer + *length, capacity - *length);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            *error = os_failed("read");
            close(fd);
            return OS_FILE_FAILED;
        }
        if (got == 0)
            break;
        *length += static_cast<size_t>(got);
    }
    close(fd);
    return OS_FILE_DONE;
}

os_file_result os_replace_file(const char* from, const char* to, os_error* error)
{
    if (rename(from, to) == 0)
        return OS_FILE_DONE;
    *error = os_failed("rename");
    return errno == ENOENT ? OS_FILE_MISSING : OS_FILE_FAILED;
}

void os_stamp_from_status(const struct stat& status, os_stamp* stamp)
{
    auto nanoseconds = [](const timespec& time) {
        return static_cast<unsigned long long>(time.tv_sec) * 1000000000ULL + static_cast<unsigned long long>(time.tv_nsec);
    };
    stamp->size = static_cast<unsigned long long>(status.st_size);
    stamp->modified = nanoseconds(status.st_mtim);
    stamp->changed = nanoseconds(status.st_ctim);
    stamp->volume = static_cast<unsigned long long>(status.st_dev);
    stamp->index = static_cast<unsigned long long>(status.st_ino);
    stamp->regular = S_ISREG(status.st_mode);
}

os_file_result os_file_stamp(const char* path, bool follow_link, os_stamp* stamp, os_error* error)
{
    struct stat status;
    if ((follow_link ? stat(path, &status) : lstat(path, &status)) != 0) {
        *error = os_failed(follow_link ? "stat" : "lstat");
        return (errno == ENOENT || errno == ENOTDIR) ? OS_FILE_MISSING : OS_FILE_FAILED;
    }
    os_stamp_from_status(status, stamp);
    return OS_FILE_DONE;
}

os_file_result os_remove_file(const char* path, os_error* error)
{
    if (unlink(path) == 0)
        return OS_FILE_DONE;
    *error = os_failed("unlink");
    return (errno == ENOENT || errno == ENOTDIR) ? OS_FILE_MISSING : OS_FILE_FAILED;
}

os_file_result os_free_space(const char* path, unsigned long long* bytes, os_error* error)
{
    struct statvfs volume;
    if (statvfs(path, &volume) != 0) {
        *error = os_failed("statvfs");
        return OS_FILE_FAILED;
    }
    *bytes = static_cast<unsigned long long>(volume.f_bavail) * volume.f_frsize;
    return OS_FILE_DONE;
}

int os_local_time(time_t when, struct tm* result)
{
    return localtime_r(&when, result) != nullptr ? 0 : -1;
}

unsigned os_text_code_page()
{
    return 0;
}

os_text_conversion os_code_page_from_utf8(char*, size_t*, os_error*)
{
    return OS_TEXT_EXACT;
}

int os_arguments(int argc, char** argv, char*** arguments)
{
    *arguments = argv;
    return argc;
}

bool os_argument_is_exact(int)
{
    return true;
}

bool os_getenv_is_exact(const char*)
{
    return true;
}
