#include "platform/os_claim.h"

#include "platform/win32/long_path.h"

#include <windows.h>
#include <atomic>
#include <cstring>

// The word at the start of the lock file says what its holder is doing. Both
// words have the same length, so a word is replaced by one write.
static const char RUNNING[] = "running\r\n";
static const char CLOSING[] = "closing\r\n";
enum { WORD_LENGTH = sizeof RUNNING - 1 };

// The claimed lock file, null when none; taken by the main thread, marked by
// the service thread.
static std::atomic<HANDLE> g_claim{nullptr};

static HANDLE open_file(const char* path, DWORD access, DWORD sharing, DWORD disposition)
{
    const char* failed_call = "";
    return create_file_any_length(path, access, sharing, disposition, &failed_call);
}

static int write_word(HANDLE file, const char* word)
{
    OVERLAPPED at = {};
    DWORD written = 0;
    return WriteFile(file, word, WORD_LENGTH, &written, &at) && written == WORD_LENGTH ? 0 : -1;
}

// What the holder of the claim wrote: true when it is closing.
static bool holder_is_closing(const char* path)
{
    // Shared every way, so that the holder keeps its file as it opened it.
    HANDLE file = open_file(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    char word[WORD_LENGTH];
    DWORD read = 0;
    bool closing = ReadFile(file, word, WORD_LENGTH, &read, nullptr) && read == WORD_LENGTH &&
                   memcmp(word, CLOSING, WORD_LENGTH) == 0;
    CloseHandle(file);
    return closing;
}

int os_claim_instance(const char* path)
{
    // Written by this process alone: another run that asks to write finds it
    // taken (a sharing violation) until this process ends. The handle is not
    // inherited by the VM's child processes.
    HANDLE file = open_file(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, OPEN_ALWAYS);
    if (file != INVALID_HANDLE_VALUE) {
        if (write_word(file, RUNNING) == 0) {
            g_claim.store(file);
            return OS_CLAIM_TAKEN;
        }
        DWORD error = GetLastError();
        CloseHandle(file);
        SetLastError(error);
        return OS_CLAIM_FAILED;
    }
    DWORD error = GetLastError();
    if (error == ERROR_SHARING_VIOLATION)
        return holder_is_closing(path) ? OS_CLAIM_CLOSING : OS_CLAIM_HELD;
    if (error == ERROR_PATH_NOT_FOUND || error == ERROR_FILE_NOT_FOUND || error == ERROR_DIRECTORY)
        return OS_CLAIM_NO_FOLDER;
    SetLastError(error);
    return OS_CLAIM_FAILED;
}

int os_mark_claim_closing()
{
    HANDLE file = g_claim.load();
    return file == nullptr ? 0 : write_word(file, CLOSING);
}
