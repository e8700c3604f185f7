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
    {"-Xshare:dump", "-Xshare:dump", {}, "line 1: '-Xshare:dump' refused: it has the VM rewrite the Java "
     "installation's class archive and end"},
    {"-XX:+DumpSharedSpaces", "-Xmx1g\n-XX:+DumpSharedSpaces", {}, "line 2: '-XX:+DumpSharedSpaces' refused: it has "
     "the VM rewrite the Java installation's class archive and end"},
    {"-XX:+PrintSharedArchiveAndExit", "-XX:+PrintSharedArchiveAndExit", {}, "line 1: "
     "'-XX:+PrintSharedArchiveAndExit' refused: it has the VM end before the application starts"},
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

// The options for which the class archive stands aside: "" for those that
// share classes themselves, a reason for those with which the VM cannot
// write or use it; and ZR_CLASS_ARCHIVE's values.
TEST(class_archive, stands_aside_for_options_that_share_or_keep_the_vm_from_archiving)
{
    const char* const cannot_write = ", with which the VM cannot write it";
    const std::pair<const char*, const char*> options[] = {
        {"-Xshare:off", ""}, {"-Xshare:auto", ""}, {"-XX:SharedArchiveFile=a", ""},
        {"-XX:ArchiveClassesAtExit=a", ""}, {"-XX:+AutoCreateSharedArchive", ""},
        {"-XX:SharedClassListFile=l", ""}, {"-XX:DumpLoadedClassList=l", ""}, {"-XX:-VerifySharedSpaces", ""},
        {"-javaagent:/opt/apm/agent.jar=x", cannot_write}, {"-agentlib:jdwp=transport=dt_socket", cannot_write},
        {"-agentpath:/opt/p/libprof.so", cannot_write}, {"-Xrunjdwp:transport=dt_socket", cannot_write},
        {"--patch-module=java.base=/p", cannot_write}, {"--limit-modules=java.base", cannot_write},
        {"--upgrade-module-path=/u", cannot_write}, {"-XX:-UseCompressedClassPointers", cannot_write},
        {"-XX:ObjectAlignmentInBytes=16", cannot_write}, {"-Xbootclasspath/a:/b", cannot_write},
        {"-Djava.system.class.loader=a.L", ", with which the VM does not use it"},
        {"-Xmx64m", nullptr}, {"-Dshared.archive=x", nullptr}, {"-Xlog:cds", nullptr}, {"-XX:+UseG1GC", nullptr},
        {"-XX:+UseCompressedClassPointers", nullptr}, {"--patch-modules=x", nullptr}, {"-javaagentx", nullptr},
        {"-Djava.system.class.loaders=x", nullptr},
    };
    for (const auto& option : options) {
        const char* reason = archive_aside_reason(option.first);
        EXPECT_EQ(reason == nullptr, option.second == nullptr) << option.first;
        if (reason != nullptr && option.second != nullptr) {
            EXPECT_STREQ(reason, option.second) << option.first;
        }
    }
    EXPECT_EQ(parse_class_archive_setting("on"), 1);
    EXPECT_EQ(parse_class_archive_setting("off"), 0);
    for (const char* text : {"", "On", "OFF", "1", "no", "off "})
        EXPECT_EQ(parse_class_archive_setting(text), -1) << text;
}

// JAVA_TOOL_OPTIONS read as the VM reads it: blanks separate, quotes group.
TEST(class_archive, splits_an_options_variable_as_the_vm_does)
{
    const std::pair<const char*, std::vector<std::string>> cases[] = {
        {"", {}},
        {" \t ", {}},
        {"-Xmx40g", {"-Xmx40g"}},
        {"  -Xmx1g\t-javaagent:a.jar \n-Dx=1 ", {"-Xmx1g", "-javaagent:a.jar", "-Dx=1"}},
        {"'-javaagent:/opt/my agent.jar' -Da=\"b c\"d", {"-javaagent:/opt/my agent.jar", "-Da=b cd"}},
        {"-Da='x\"y' \"\"", {"-Da=x\"y", ""}},
    };
    for (const auto& c : cases) {
        char buffer[64];
        const char* options[8];
        int count = split_vm_options_variable(c.first, buffer, sizeof buffer, options, 8);
        EXPECT_EQ(std::vector<std::string>(options, options + (count > 0 ? count : 0)), c.second) << c.first;
    }
    char buffer[16];
    const char* options[2];
    EXPECT_EQ(split_vm_options_variable("-Da='b c", buffer, sizeof buffer, options, 2), -1);
    EXPECT_EQ(split_vm_options_variable("-Da -Db -Dc", buffer, sizeof buffer, options, 2), -2);
    EXPECT_EQ(split_vm_options_variable("-Dabcdefghijklmnopq", buffer, sizeof buffer, options, 2), -2);
}
