#include "log/rolling_file.h"

#include "platform/os_errors.h"
#include "platform/os_files.h"
#include "platform/os_paths.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

const char SEPARATOR_LINE[] = "----------------------------------------";

// True when anything is at path: a file, a folder, or a link, which is not
// followed (one that leads nowhere counts).
static bool path_taken(const char* path)
{
    os_stamp stamp;
    os_error error;
    return os_file_stamp(path, false, &stamp, &error) != OS_FILE_MISSING;
}

// The path of the current file (index 0) or of the kept file of index.
static void compose_path(const rolling_file* rolling, int index, char* path)
{
    if (index == 0)
        snprintf(path, ROLLING_PATH_CAPACITY, "%s.txt", rolling->stem);
    else
        snprintf(path, ROLLING_PATH_CAPACITY, "%s.%d.txt", rolling->stem, index);
}

// The file name of a path, for the news: the folder is the instance's.
static const char* file_name(const char* path)
{
    const char* last = strrchr(path, OS_PATH_SEPARATOR);
    return last != nullptr ? last + 1 : path;
}

// Moves the kept files one further as far as the first one missing (or the
// oldest kept, which is replaced), then the current file to index 1: where
// a roll failed half-way (the current file held by another program), the
// next one moves nothing more than it must, and no kept file is lost to the
// retries. Stops at the first move that fails: a later one would replace a
// file that was not moved on. Returns 0, or the index of the file that could
// not be moved (news says which and why; os_last_error).
static int move_files_on(rolling_file* rolling, bool starting)
{
    char from[ROLLING_PATH_CAPACITY];
    char to[ROLLING_PATH_CAPACITY];
    int top = 1;
    for (compose_path(rolling, top, to); top < rolling->limits.keep && path_taken(to);)
        compose_path(rolling, ++top, to);
    for (int index = top - 1; index >= 0; --index) {
        compose_path(rolling, index, from);
        compose_path(rolling, index + 1, to);
        os_error error;
        if (os_replace_file(from, to, &error) != OS_FILE_FAILED)
            continue;
        if (starting && index == 0)
            snprintf(rolling->news, sizeof rolling->news, "Cannot keep the previous %s as %s: %lu", rolling->what,
                     file_name(to), error.code);
        else
            snprintf(rolling->news, sizeof rolling->news, "Cannot keep %s as %s: %lu", file_name(from), file_name(to),
                     error.code);
        return index + 1;
    }
    return 0;
}

// Removes the kept files beyond the count that a run before with a larger
// count left, from the first one beyond on up to the first that is missing.
// One that cannot be removed is put in news and stops the removal.
static void remove_beyond_count(rolling_file* rolling)
{
    char path[ROLLING_PATH_CAPACITY];
    for (int index = rolling->limits.keep + 1;; ++index) {
        compose_path(rolling, index, path);
        os_error error;
        os_file_result removed = os_remove_file(path, &error);
        if (removed == OS_FILE_MISSING)
            return;
        if (removed == OS_FILE_FAILED) {
            snprintf(rolling->news, sizeof rolling->news, "Cannot remove %s, beyond the %d files kept: %lu",
                     file_name(path), rolling->limits.keep, error.code);
            return;
        }
    }
}

// Opens the current file. Null (os_last_error) when it cannot be opened.
static FILE* open_current(const rolling_file* rolling, bool append)
{
    char path[ROLLING_PATH_CAPACITY];
    compose_path(rolling, 0, path);
    return os_open_bytes_for_writing(path, append);
}

int rolling_open(rolling_file* rolling, const char* stem, const char* what, rolling_limits limits)
{
    bounded_copy(rolling->stem, sizeof rolling->stem, stem);
    rolling->what = what;
    rolling->limits = limits;
    rolling->file = nullptr;
    rolling->size = 0;
    rolling->at_line_start = true;
    rolling->roll_failed = false;
    rolling->write_failed = false;
    rolling->news[0] = '\0';
    char path[ROLLING_PATH_CAPACITY];
    compose_path(rolling, 0, path);
    // Only a run before that left a file is turned over.
    bool appending = path_taken(path) && move_files_on(rolling, true) != 0;
    if (!appending)
        remove_beyond_count(rolling);
    rolling->file = open_current(rolling, appending);
    if (rolling->file == nullptr)
        return ROLLING_NOT_OPENED;
    os_stamp stamp;
    os_error error;
    if (appending && os_file_stamp(path, true, &stamp, &error) == OS_FILE_DONE)
        rolling->size = stamp.size;
    return appending ? ROLLING_APPENDED : ROLLING_NEW;
}

// Turns the files over while the current one stays open (it is shared for
// renaming), then begins a new current file. Returns 0, or -1 (news says
// why) when the current file goes on as it was: its new name, if it has one
// by then, is moved on again by the next roll.
static int roll(rolling_file* rolling)
{
    if (move_files_on(rolling, false) == 0) {
        FILE* fresh = open_current(rolling, false);
        if (fresh != nullptr) {
            fclose(rolling->file);
            rolling->file = fresh;
            rolling->size = 0;
            rolling->roll_failed = false;
            return 0;
        }
        char path[ROLLING_PATH_CAPACITY];
        compose_path(rolling, 0, path);
        snprintf(rolling->news, sizeof rolling->news, "Cannot begin a new %s: %lu", file_name(path),
                 os_last_error());
    }
    if (rolling->roll_failed) {
        rolling->news[0] = '\0';
        return -1;
    }
    rolling->roll_failed = true;
    size_t length = strlen(rolling->news);
    snprintf(rolling->news + length, sizeof rolling->news - length,
             "; the %s goes on past its limit of %llu bytes until it can be rolled over", rolling->what,
             rolling->limits.limit_bytes);
    return -1;
}

// The length of the first line of data, its line end included; all of data
// when no line ends in it.
static size_t first_line(const char* data, size_t length)
{
    const char* end = static_cast<const char*>(memchr(data, '\n', length));
    return end != nullptr ? static_cast<size_t>(end - data) + 1 : length;
}

// How many bytes of data go into the current file as it is: the rest of an
// unfinished line, else the whole lines that fit within the limit, else a
// first line that is alone in the file whatever its length. 0 when the next
// line needs a new file.
static size_t next_piece(const rolling_file* rolling, const char* data, size_t length)
{
    if (!rolling->at_line_start)
        return first_line(data, length);
    unsigned long long room = rolling->size < rolling->limits.limit_bytes
                                  ? rolling->limits.limit_bytes - rolling->size
                                  : 0;
    size_t taken = 0;
    while (taken < length) {
        size_t line = first_line(data + taken, length - taken);
        if (taken + line > room)
            break;
        taken += line;
    }
    if (taken == 0 && rolling->size == 0)
        return first_line(data, length);
    return taken;
}

// Writes a piece to the current file's descriptor, past the stream's buffer,
// which is never used: what a failed write leaves out is known, and nothing
// waits in a buffer. A failure is put in news when it begins. Returns 0, or
// -1 (errno).
static int write_piece(rolling_file* rolling, const char* data, size_t length)
{
    const size_t MOST_AT_ONCE = size_t(1) << 30;
    size_t written = 0;
    while (written < length) {
        size_t chunk = length - written < MOST_AT_ONCE ? length - written : MOST_AT_ONCE;
        long done = static_cast<long>(write(fileno(rolling->file), data + written, static_cast<unsigned>(chunk)));
        if (done <= 0)
            break;
        written += static_cast<size_t>(done);
    }
    rolling->size += written;
    if (written > 0)
        rolling->at_line_start = data[written - 1] == '\n';
    if (written == length) {
        rolling->write_failed = false;
        return 0;
    }
    int error = errno;
    if (!rolling->write_failed) {
        rolling->write_failed = true;
        char path[ROLLING_PATH_CAPACITY];
        compose_path(rolling, 0, path);
        snprintf(rolling->news, sizeof rolling->news, "Cannot write %s: %s", file_name(path), strerror(error));
    }
    errno = error;
    return -1;
}

int rolling_write(rolling_file* rolling, const char* data, size_t length)
{
    if (rolling->file == nullptr)
        return 0;
    int result = 0;
    bool may_roll = true;
    while (length > 0) {
        size_t piece = next_piece(rolling, data, length);
        if (piece == 0 && may_roll && roll(rolling) == 0)
            continue;
        // A roll that failed is tried again at the next write, not at every line.
        if (piece == 0) {
            may_roll = false;
            piece = length;
        }
        if (write_piece(rolling, data, piece) != 0)
            result = -1;
        data += piece;
        length -= piece;
    }
    return result;
}

void rolling_close(rolling_file* rolling)
{
    if (rolling->file != nullptr)
        fclose(rolling->file);
    rolling->file = nullptr;
}
