#include "log/log.h"
#include "log/rolling_file.h"

#include <gtest/gtest.h>

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
