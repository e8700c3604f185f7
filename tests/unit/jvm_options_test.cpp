#include "instance/class_archive.h"
#include "instance/jvm_options.h"
#include "text/bounded_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// A jvm.options text and what is taken of it: the options behind the
// class-path option, or the refusal.
struct options_case {
    const char* name;
    std::string text;
    std::vector<std::string> options;
    std::string refusal;
};

static const std::string CLASS_PATH = "refused: the class path comes from the instance's folders";

static std::string repeated(const std::string& text, int times)
{
    std::string result;
    for (int i = 0; i < times; ++i)
        result += text;
    return result;
}

static const options_case CASES[] = {
    {"trimmed options in order, comments and blank lines skipped",
     "\xEF\xBB\xBF# heap\r\n  -Xmx48m \r\n\r\n  #\n\t-Dzr.test=a b\t", {"-Xmx48m", "-Dzr.test=a b"}, ""},
    {"lines ending in CR alone", "-Da\r-Db\r\r-Dc\r\n-Dd", {"-Da", "-Db", "-Dc", "-Dd"}, ""},
    {"UTF-16, little endian", std::string("\xFF\xFE#\0", 4), {}, "refused: it is saved as UTF-16; save it as UTF-8"},
    {"UTF-16, big endian", std::string("\xFE\xFF\0#", 4), {}, "refused: it is saved as UTF-16; save it as UTF-8"},
    {"an option set twice is passed twice", "-Da=1\n-Da=2\n", {"-Da=1", "-Da=2"}, ""},
    {"a line of 4095 characters", "-D" + std::string(4093, 'x'), {"-D" + std::string(4093, 'x')}, ""},
    {"256 options", repeated("-Da\n", 256), std::vector<std::string>(256, "-Da"), ""},
    {"the class-path property", "-Xmx64m\n-Djava.class.path=x\n", {}, "line 2: '-Djava.class.path=x' " + CLASS_PATH},
    {"-classpath with a blank", "-classpath x\n", {}, "line 1: '-classpath x' " + CLASS_PATH},
    {"--class-path with =", " --class-path=x", {}, "line 1: '--class-path=x' " + CLASS_PATH},
    {"-cp alone", "-cp", {}, "line 1: '-cp' " + CLASS_PATH},
    {"another options file", "-XX:VMOptionsFile=x", {}, "line 1: '-XX:VMOptionsFile=x' refused: the instance's "
     "options file is jvm.options"},
    {"a longer word is no class-path option", "-cpx\n-classpathy", {"-cpx", "-classpathy"}, ""},
    {"a line of 4096 characters", "-D" + std::string(4094, 'x'), {},
     "line 1: '-D" + std::string(38, 'x') + "' refused: longer than 4095 characters (its start is shown)"},
    {"257 options", repeated("-Da\n", 257), {}, "line 257: '-Da' refused: more than 256 options"},
    {"a zero byte", std::string("-Da\n-D\0b\n", 9), {}, "line 2: '-D' refused: it holds a zero byte"},
    {"a zero byte before a CR", std::string("-Da\r-D\0b\r-Dc", 12), {}, "line 2: '-D' refused: it holds a zero byte"},
    {"a file beyond 65536 bytes", std::string(65537, '#'), {}, "refused: larger than 65536 bytes"},
};

static void PrintTo(const options_case& c, std::ostream* out)
{
    *out << c.name;
}

class JvmOptions : public testing::TestWithParam<options_case> {};

TEST_P(JvmOptions, TakesEachLinesOptionOrRefusesTheFile)
{
    const options_case& c = GetParam();
    std::vector<char> text(c.text.begin(), c.text.end());
    text.push_back('?'); // the room for the zero behind the last option
    std::vector<std::string> taken;
    char refusal[LONG_TEXT_CAPACITY] = "";
    int result = parse_jvm_options(text.data(), c.text.size(), &taken, refusal);
    EXPECT_EQ(c.refusal.empty() ? 0 : -1, result) << c.name;
    EXPECT_EQ(c.refusal, refusal) << c.name;
    if (c.refusal.empty()) {
        EXPECT_EQ(c.options, taken) << c.name;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, JvmOptions, testing::ValuesIn(CASES));

// The options of jvm.options for which the host leaves the VM's class
// sharing to them, and ZR_CLASS_ARCHIVE's values.
TEST(class_archive, stands_aside_for_a_sharing_option_and_reads_its_setting)
{
    const std::pair<const char*, bool> options[] = {
        {"-Xshare:off", true},          {"-Xshare:auto", true},
        {"-XX:SharedArchiveFile=a", true}, {"-XX:ArchiveClassesAtExit=a", true},
        {"-XX:+AutoCreateSharedArchive", true}, {"-XX:SharedClassListFile=l", true},
        {"-XX:DumpLoadedClassList=l", true}, {"-XX:-VerifySharedSpaces", true},
        {"-Xmx64m", false},             {"-Dshared.archive=x", false},
        {"-Xlog:cds", false},           {"-XX:+UseG1GC", false},
    };
    for (const auto& option : options) {
        EXPECT_EQ(sharing_option({option.first}) != nullptr, option.second) << option.first;
    }
    EXPECT_EQ(parse_class_archive_setting("on"), 1);
    EXPECT_EQ(parse_class_archive_setting("off"), 0);
    for (const char* text : {"", "On", "OFF", "1", "no", "off "})
        EXPECT_EQ(parse_class_archive_setting(text), -1) << text;
}
