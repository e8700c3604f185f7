// Times an application printing through its C runtime's standard output:
// into the host's capture (a pipe drained into rolling files) or into a
// plain file put under the same descriptor. Prints the seconds the writes
// took, then the seconds until everything was in the files.
//   capture FOLDER MEBIBYTES capture|plain
// Lines of 100 bytes; standard output buffered as the C runtime buffers it
// for a file or a pipe.
#include "log/log.h"
#include "log/captured_output.h"
#include "platform/os_files.h"
#include "platform/os_paths.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

static double seconds_since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

int main(int argc, char** argv)
{
    if (argc < 4)
        return 2;
    bool flush_lines = argc > 4;
    std::string folder = argv[1];
    long long bytes = atoll(argv[2]) << 20;
    bool capture = strcmp(argv[3], "capture") == 0;
    std::string stem = folder + OS_PATH_SEPARATOR + (capture ? "zrsvc-stdout" : "plain");
    // The figures go where standard error led before.
    FILE* report = fdopen(dup(2), "w");
    if (capture) {
        if (begin_output_capture(stem.c_str(), {10ull << 20, 10}) != 0)
            return 1;
    } else {
        FILE* file = os_open_bytes_for_writing((stem + ".txt").c_str(), false);
        if (file == nullptr || dup2(fileno(file), 1) < 0)
            return 1;
    }
    char line[101];
    memset(line, 'x', sizeof line - 1);
    line[sizeof line - 2] = '\n';
    line[sizeof line - 1] = '\0';
    auto start = std::chrono::steady_clock::now();
    for (long long written = 0; written < bytes; written += sizeof line - 1)
        if (fputs(line, stdout) >= 0 && flush_lines)
            fflush(stdout);
    fflush(stdout);
    double writes = seconds_since(start);
    end_output_capture();
    fprintf(report, "%.6f %.6f\n", writes, seconds_since(start));
    return 0;
}
