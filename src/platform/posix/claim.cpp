#include "platform/os_claim.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

// The word at the start of the lock file says what its holder is doing. Both
// words have the same length, so a word is replaced by one write, never read
// half truncated.
static const char RUNNING[] = "running\n";
static const char CLOSING[] = "closing\n";
enum { WORD_LENGTH = sizeof RUNNING - 1 };

// The claimed lock file, -1 when none; taken by the main thread, marked by
// the thread that ran the application.
static std::atomic<int> g_claim{-1};

static int write_word(int fd, const char* word)
{
    return pwrite(fd, word, WORD_LENGTH, 0) == WORD_LENGTH ? 0 : -1;
}

int os_claim_instance(const char* path)
{
    // Close-on-exec: a child process of the VM that outlived this one would
    // otherwise keep the instance taken. Never through a link: it would
    // write another file, or claim nothing when it leads nowhere.
    int fd = open(path, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0 && errno == ELOOP)
        return OS_CLAIM_LINK;
    if (fd < 0)
        return (errno == ENOENT || errno == ENOTDIR) ? OS_CLAIM_NO_FOLDER : OS_CLAIM_FAILED;
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
        if (write_word(fd, RUNNING) == 0) {
            g_claim.store(fd);
            return OS_CLAIM_TAKEN;
        }
    } else if (errno == EWOULDBLOCK) {
        char word[WORD_LENGTH];
        bool closing = pread(fd, word, WORD_LENGTH, 0) == WORD_LENGTH && memcmp(word, CLOSING, WORD_LENGTH) == 0;
        close(fd);
        return closing ? OS_CLAIM_CLOSING : OS_CLAIM_HELD;
    }
    int error = errno;
    close(fd);
    errno = error;
    return OS_CLAIM_FAILED;
}

int os_mark_claim_closing()
{
    int fd = g_claim.load();
    return fd < 0 ? 0 : write_word(fd, CLOSING);
}
