// A file that is kept within a size while it is written: when a line would
// take it past its limit, it becomes the newest kept file (NAME.1.txt; the
// kept ones move on to NAME.2.txt, ..., the oldest beyond the number kept is
// replaced) and a new NAME.txt begins. Lines are never split between files:
// the roll happens only where a line begins. Used by one thread at a time
// (its owner guards it).
#pragma once
#include "text/bounded_text.h"

#include <cstddef>
#include <cstdio>

struct rolling_limits {
    unsigned long long limit_bytes; // a file's size, at least 1
    int keep;                       // files kept besides the current one, at least 1
};

// Room for a folder path of PATH_CAPACITY and a file name, then for
// ".1000.txt" behind them.
enum { ROLLING_STEM_CAPACITY = PATH_CAPACITY + 48, ROLLING_PATH_CAPACITY = ROLLING_STEM_CAPACITY + 16 };

struct rolling_file {
    char stem[ROLLING_STEM_CAPACITY]; // the current file's path without ".txt"
    const char* what;                 // "log", "output": for the news
    rolling_limits limits;
    FILE* file; // null when none could be opened
    unsigned long long size;
    bool at_line_start;   // the last byte written ended a line (or none was written)
    bool roll_failed;     // said in news; a roll that works clears it
    bool write_failed;    // said in news; a write that works clears it
    char news[2 * ROLLING_PATH_CAPACITY + 200]; // what could not be done, for the owner to say; else empty
};

// Where a run goes on in a file it could not keep apart from the runs before.
extern const char SEPARATOR_LINE[];

// Results of rolling_open.
enum { ROLLING_NEW = 0, ROLLING_APPENDED = 1, ROLLING_NOT_OPENED = -1 };

// Opens NAME.txt (stem + ".txt") for a new run: the files of the runs before
// are turned over as by a roll, under the same count, and a new file begins;
// kept files beyond the count (of a run that kept more) are removed, and
// one that cannot be is said in news. When they cannot be turned over, the run goes on at the end of NAME.txt and news says
// why ("Cannot keep the previous log as zrsvc-log.1.txt: 32"). Returns
// ROLLING_NEW when the turnover was done, ROLLING_APPENDED when the file is
// appended to, ROLLING_NOT_OPENED when no file could be opened
// (os_last_error).
int rolling_open(rolling_file* rolling, const char* stem, const char* what, rolling_limits limits);

// Writes bytes as given, rolling over where a line would pass the limit. A
// line longer than the limit goes alone into a file; bytes that do not end
// their line yet go on in the same file with the rest of their line. When a
// roll fails (a kept file held open by another program), the current file
// grows past its limit and the roll is tried again at the next write; when a
// write fails (a full disk), what cannot be written is dropped and the next
// write tries again. Each such failure is put in news once, until it is
// over. Returns 0, or -1 when some bytes could not be written (errno).
int rolling_write(rolling_file* rolling, const char* data, size_t length);

// Closes the current file.
void rolling_close(rolling_file* rolling);

// The default and the bounds of ZR_LOG_LIMIT_MB and ZR_LOG_KEEP, the limits
// of an instance's log files.
enum {
    DEFAULT_LOG_LIMIT_MB = 10,
    MOST_LOG_LIMIT_MB = 4096,
    DEFAULT_LOG_KEEP = 10,
    MOST_LOG_KEEP = 1000,
};
