// A condition the run cannot go on from, as a value: the layers below the
// run's owner return it instead of ending the process, and the owner reports
// it (its reason, then "Terminated with exit code %d.") in one place.
#pragma once
#include <string>

struct run_failure {
    int exit_code = 0; // 0: no failure
    // The line that says why; empty when nothing is to be said but the exit
    // code (the executable's path could not be read).
    std::string reason;
    // The reason is said to the person at the console (no timestamp), not
    // logged: the instance is refused before anything of it is touched.
    bool on_console = false;

    bool failed() const { return exit_code != 0; }
};

// A failure that ends the run with -1, its reason logged.
inline run_failure fail(std::string reason)
{
    return run_failure{-1, std::move(reason), false};
}

// A failure that ends the run with -1, its reason said on the console.
inline run_failure fail_on_console(std::string reason)
{
    return run_failure{-1, std::move(reason), true};
}

// The failure's reason formatted as printf does; a text longer than 9999
// characters gives an empty reason, as a log line would.
run_failure fail_format(const char* format, ...) __attribute__((format(printf, 1, 2)));
