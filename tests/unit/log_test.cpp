#include "jvm/vm_hooks.h"
#include "log/log.h"
#include "log/rolling_file.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

typedef std::vector<std::string> lines;

// Points the sink at a file of its own, read back through a second stream
// while the sink is still open: what is seen is what was flushed.
struct LogCapture : ::testing::Test {
    std::string stem = ::testing::TempDir() + "log_capture";
    std::string path = stem + ".txt";
    rolling_file file = {};

    void SetUp() override
    {
        ASSERT_EQ(0, rolling_open(&file, stem.c_str(), "log", {1 << 20, 1}));
        log_to_file(&file);
    }

    void TearDown() override
    {
        log_to_console();
        rolling_close(&file);
        std::remove(path.c_str());
        std::remove((stem + ".1.txt").c_str());
    }

    // Each line's message; expects the timestamp's shape and the separator.
    lines messages()
    {
        std::ifstream in(path);
        lines result;
        for (std::string line; std::getline(in, line);) {
            EXPECT_TRUE(std::regex_match(line.substr(0, 22), std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d - )")))
                << line.substr(0, 22);
            result.push_back(line.substr(22));
        }
        return result;
    }
};

// A message of up to 9999 characters is logged whole, a longer one as an
// empty message; each line is on disk when the call returns.
TEST_F(LogCapture, LinesAreFlushedWholeOrEmpty)
{
    std::string fits(9993, 'c');
    log_format("JVM '%s'", fits.c_str()); // "JVM '%s'" adds six characters
    EXPECT_EQ(lines{"JVM '" + fits + "'"}, messages());
    log_format("JVM '%s'", (fits + "d").c_str());
    log_format("Terminated with exit code %d.", -1);
    EXPECT_EQ((lines{"JVM '" + fits + "'", "", "Terminated with exit code -1."}), messages());
}

// As the VM prints: through its vfprintf hook.
static void print_as_vm(FILE* stream, const char* format, ...)
{
    JavaVMOption options[VM_HOOK_OPTIONS];
    put_vm_hooks(options);
    auto hook = reinterpret_cast<jint(JNICALL*)(FILE*, const char*, va_list)>(options[0].extraInfo);
    va_list arguments;
    va_start(arguments, format);
    hook(stream, format, arguments);
    va_end(arguments);
}

// Once the VM runs, the text of a warning goes straight to standard error,
// past the hook: its line in the log says where, rather than standing as the
// warning's first words alone or running into the VM's next message.
TEST_F(LogCapture, AVmWarningPastTheHookSaysWhereItsTextWent)
{
    print_as_vm(stderr, "%s warning: ", "OpenJDK 64-Bit Server VM");
    print_as_vm(stdout, "next %d\n", 1);
    EXPECT_EQ((lines{"OpenJDK 64-Bit Server VM warning: [its text went to standard error only: zrsvc-stdout.txt]",
                     "next 1"}),
              messages());
}
