#include "log/log.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

// Points the sink at a file of its own; every line written is read back
// through a second stream while the sink is still open, so what is seen is
// what was flushed.
struct LogCapture : ::testing::Test {
    std::string path;
    FILE* file = nullptr;

    void SetUp() override
    {
        path = std::string(::testing::TempDir()) + "log_capture_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".txt";
        file = fopen(path.c_str(), "w");
        ASSERT_NE(nullptr, file);
        log_to_file(file);
    }

    void TearDown() override
    {
        log_to_console();
        fclose(file);
        std::remove(path.c_str());
    }

    std::vector<std::string> lines()
    {
        std::ifstream in(path);
        std::vector<std::string> result;
        for (std::string line; std::getline(in, line);)
            result.push_back(line);
        return result;
    }

    // The message of each line, checking the timestamp and separator.
    // (std::regex recurses per character and overflows on long lines.)
    std::vector<std::string> messages()
    {
        static const std::regex stamp(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d - $)");
        std::vector<std::string> result;
        for (const std::string& line : lines()) {
            EXPECT_TRUE(std::regex_match(line.substr(0, 22), stamp)) << line.substr(0, 40);
            result.push_back(line.size() > 22 ? line.substr(22) : "");
        }
        return result;
    }
};

TEST_F(LogCapture, EachLineIsOnDiskWhenTheCallReturns)
{
    log_line("Starting JVM");
    EXPECT_EQ(std::vector<std::string>{"Starting JVM"}, messages());
    log_format("build_paths() failed: %d", -1);
    log_format("BASE PATH: '%s'", "C:\\app\\");
    EXPECT_EQ((std::vector<std::string>{"Starting JVM", "build_paths() failed: -1",
                                        "BASE PATH: 'C:\\app\\'"}),
              messages());
}

TEST_F(LogCapture, MessagesUpTo9999CharactersAreWholeLongerOnesEmpty)
{
    std::string fits(9999, 'a');
    std::string too_long(10000, 'b');
    log_format("%s", fits.c_str());
    log_format("%s", too_long.c_str());
    // "JVM '%s'" adds six characters.
    std::string option_fits(9993, 'c');
    std::string option_too_long(9994, 'd');
    log_format("JVM '%s'", option_fits.c_str());
    log_format("JVM '%s'", option_too_long.c_str());
    log_line("after");

    std::vector<std::string> got = messages();
    ASSERT_EQ(5u, got.size());
    EXPECT_EQ(fits, got[0]);
    EXPECT_EQ("", got[1]);
    EXPECT_EQ("JVM '" + option_fits + "'", got[2]);
    EXPECT_EQ("", got[3]);
    EXPECT_EQ("after", got[4]);
}

TEST_F(LogCapture, EchoShowsEveryLineOnTheConsoleAsWell)
{
    ::testing::internal::CaptureStdout();
    log_echo_to_console(true);
    log_line("Invoking main");
    log_echo_to_console(false);
    log_line("not shown");
    std::string console = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(std::string::npos, console.find(" - Invoking main\n"));
    EXPECT_EQ(std::string::npos, console.find("not shown"));
    EXPECT_EQ((std::vector<std::string>{"Invoking main", "not shown"}), messages());
}

// Three hours east of UTC, with no daylight saving time: a zone that is this
// machine's only if the test says so.
TEST_F(LogCapture, TimestampsAreLocalTime)
{
    const char* saved = getenv("TZ");
    std::string previous = saved != nullptr ? saved : "";
    putenv(const_cast<char*>("TZ=ZRT-3"));
    tzset();
    time_t before = time(nullptr);
    log_line("now");
    time_t after = time(nullptr);
    static std::string restore;
    restore = "TZ=" + previous;
    putenv(const_cast<char*>(restore.c_str()));
    tzset();

    std::string stamp = lines().at(0).substr(0, 19);
    bool matched = false;
    for (time_t t = before; t <= after; ++t) {
        time_t shifted = t + 3 * 3600;
        struct tm utc = *gmtime(&shifted);
        char expected[32];
        strftime(expected, sizeof expected, "%Y-%m-%d %H:%M:%S", &utc);
        matched = matched || stamp == expected;
    }
    EXPECT_TRUE(matched) << stamp;
}
