#include "log/rolling_file.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <sys/resource.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
typedef std::vector<std::string> texts;

// A folder of its own for each case, with the files of NAME as they are on
// disk: the current one first, then the kept ones, .1 upwards, up to the
// first that is missing.
struct RollingFolder {
    fs::path folder;
    rolling_file rolling = {};

    explicit RollingFolder(const char* name)
    {
        folder = fs::path(::testing::TempDir()) / ("rolling-" + std::string(name));
        fs::remove_all(folder);
        fs::create_directories(folder);
    }
    ~RollingFolder()
    {
        rolling_close(&rolling);
        fs::remove_all(folder);
    }
    std::string stem() const { return (folder / "out").string(); }
    fs::path path(int index) const
    {
        return folder / (index == 0 ? "out.txt" : "out." + std::to_string(index) + ".txt");
    }
    void put(int index, const std::string& text) const { std::ofstream(path(index), std::ios::binary) << text; }
    texts files() const
    {
        texts result;
        for (int index = 0; fs::is_regular_file(path(index)); ++index) {
            std::ifstream in(path(index), std::ios::binary);
            std::ostringstream text;
            text << in.rdbuf();
            result.push_back(text.str());
        }
        return result;
    }
};

struct RollingCase {
    const char* name;
    unsigned long long limit;
    int keep;
    texts before; // the files a run before left, "" where one is missing
    texts writes;
    texts files; // current, .1, .2, ...
};

void PrintTo(const RollingCase& c, std::ostream* out)
{
    *out << c.name;
}

class Rolling : public ::testing::TestWithParam<RollingCase> {};

TEST_P(Rolling, KeepsEachLineWholeOnceAndInOrderWithinTheLimitAndTheCount)
{
    const RollingCase& c = GetParam();
    RollingFolder folder(c.name);
    // An empty text stands for a file that is missing.
    for (size_t index = 0; index < c.before.size(); ++index)
        if (!c.before[index].empty())
            folder.put(static_cast<int>(index), c.before[index]);
    ASSERT_EQ(0, rolling_open(&folder.rolling, folder.stem().c_str(), "log", {c.limit, c.keep}));
    for (const std::string& text : c.writes)
        EXPECT_EQ(0, rolling_write(&folder.rolling, text.data(), text.size()));
    EXPECT_EQ(c.files, folder.files());
    EXPECT_FALSE(fs::exists(folder.path(c.keep + 1)));
    EXPECT_STREQ("", folder.rolling.news);
}

INSTANTIATE_TEST_SUITE_P(Rules, Rolling, ::testing::Values(
    RollingCase{"fits", 10, 2, {}, {"ab\n", "cd\n"}, {"ab\ncd\n"}},
    RollingCase{"at_the_limit", 6, 2, {}, {"ab\n", "cd\n", "e\n"}, {"e\n", "ab\ncd\n"}},
    RollingCase{"lines_of_one_write", 8, 2, {}, {"aa\nbb\ncc\ndd\n"}, {"cc\ndd\n", "aa\nbb\n"}},
    RollingCase{"oldest_beyond_the_count_goes", 4, 2, {}, {"1\n", "2\n", "3\n", "4\n", "5\n", "6\n", "7\n"},
                {"7\n", "5\n6\n", "3\n4\n"}},
    RollingCase{"a_line_longer_than_the_limit_alone", 4, 3, {}, {"a\n", "bbbbbbbb\n", "c\n"},
                {"c\n", "bbbbbbbb\n", "a\n"}},
    RollingCase{"an_unfinished_line_with_its_end", 6, 2, {}, {"abcd\n", "ef", "g\n", "h"}, {"efg\nh", "abcd\n"}},
    RollingCase{"an_unfinished_line_goes_on_past_the_limit", 6, 2, {}, {"abc\n", "de", "fghij\n"},
                {"abc\ndefghij\n"}},
    RollingCase{"a_start_turns_the_runs_before_over", 100, 2, {"run 3\n", "run 2\n", "run 1\n"}, {"run 4\n"},
                {"run 4\n", "run 3\n", "run 2\n"}},
    RollingCase{"a_gap_is_filled_without_moving_the_files_above", 100, 3, {"run 3\n", "", "run 2\n", "run 1\n"}, {},
                {"", "run 3\n", "run 2\n", "run 1\n"}},
    RollingCase{"a_start_drops_the_oldest_and_those_beyond_the_count", 100, 1, {"run 3\n", "run 2\n", "run 1\n"}, {},
                {"", "run 3\n"}}),
    [](const ::testing::TestParamInfo<RollingCase>& info) { return std::string(info.param.name); });

// A kept file that cannot be replaced (here a folder in its place; on
// Windows a file another program holds): the current file goes on past its
// limit, losing nothing, said once; once the way is free the next write
// rolls over.
TEST(RollingFaults, AFailedRollGoesOnPastTheLimitSaysSoOnceAndIsTriedAgain)
{
    RollingFolder folder("held");
    ASSERT_EQ(0, rolling_open(&folder.rolling, folder.stem().c_str(), "log", {4, 1}));
    fs::create_directories(folder.path(1) / "entry");
    EXPECT_EQ(0, rolling_write(&folder.rolling, "a\n", 2));
    EXPECT_EQ(0, rolling_write(&folder.rolling, "b\nc\n", 4));
    EXPECT_EQ(texts{"a\nb\nc\n"}, folder.files());
    EXPECT_EQ(std::string("Cannot keep out.txt as out.1.txt: 21; the log goes on past its limit of 4 bytes until it "
                          "can be rolled over"),
              folder.rolling.news);
    folder.rolling.news[0] = '\0';
    EXPECT_EQ(0, rolling_write(&folder.rolling, "d\n", 2));
    EXPECT_STREQ("", folder.rolling.news);
    fs::remove_all(folder.path(1));
    EXPECT_EQ(0, rolling_write(&folder.rolling, "e\n", 2));
    EXPECT_EQ((texts{"e\n", "a\nb\nc\nd\n"}), folder.files());
}

// The runs before cannot be turned over: the run goes on at the end of the
// current file, and says why.
TEST(RollingFaults, AStartThatCannotTurnOverAppends)
{
    RollingFolder folder("append");
    folder.put(0, "run 1\n");
    fs::create_directories(folder.path(1) / "entry");
    ASSERT_EQ(1, rolling_open(&folder.rolling, folder.stem().c_str(), "output", {100, 1}));
    EXPECT_EQ(std::string("Cannot keep the previous output as out.1.txt: 21"), folder.rolling.news);
    EXPECT_EQ(0, rolling_write(&folder.rolling, "run 2\n", 6));
    std::ifstream in(folder.path(0), std::ios::binary);
    EXPECT_EQ("run 1\nrun 2\n", std::string(std::istreambuf_iterator<char>(in), {}));
}

// A disk that is full (here a file-size limit of the process): what cannot
// be written is dropped, said once, and the writes that follow are tried
// again, so that they are kept once there is room.
TEST(RollingFaults, AFailedWriteIsSaidOnceAndTheNextWritesAreTriedAgain)
{
    RollingFolder folder("full");
    ASSERT_EQ(0, rolling_open(&folder.rolling, folder.stem().c_str(), "log", {8, 1}));
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = {6, RLIM_INFINITY};
    ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &small));
    EXPECT_EQ(0, rolling_write(&folder.rolling, "a\nb\n", 4));
    EXPECT_EQ(-1, rolling_write(&folder.rolling, "c\nd\n", 4));
    EXPECT_EQ(std::string("Cannot write out.txt: File too large"), folder.rolling.news);
    folder.rolling.news[0] = '\0';
    EXPECT_EQ(-1, rolling_write(&folder.rolling, "e\n", 2));
    EXPECT_STREQ("", folder.rolling.news);
    struct rlimit unlimited = {RLIM_INFINITY, RLIM_INFINITY};
    ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &unlimited));
    EXPECT_EQ(0, rolling_write(&folder.rolling, "f\n", 2));
    EXPECT_EQ(0, rolling_write(&folder.rolling, "g\n", 2));
    EXPECT_EQ((texts{"g\n", "a\nb\nc\nf\n"}), folder.files());
}
