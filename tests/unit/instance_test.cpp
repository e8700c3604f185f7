#include "instance/instance.h"
#include "instance/steps.h"
#include "instance/java_release.h"
#include "platform/os_dir.h"
#include "platform/os_environment.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>

namespace fs = std::filesystem;

TEST(NormaliseJavaHome, TakesOffEnclosingQuotesOnceThenOneTrailingSeparator)
{
    const std::pair<std::string, std::string> cases[] = {
        {"\"/opt/my jdk/\"", "/opt/my jdk"}, {"/jdk//", "/jdk/"}, {"\"a\"b\"c\"", "a\"b\"c"},
        {"\"/jdk", "\"/jdk"}, {"\"/\"", ""},
    };
    for (auto [value, expected] : cases) {
        normalise_java_home(&value[0]);
        EXPECT_EQ(expected, value.c_str());
    }
}

TEST(JavaRelease, GivesTheFeatureVersionOfItsJavaVersionLineOrZero)
{
    const std::pair<std::string, int> cases[] = {
        {"IMPLEMENTOR=\"Debian\"\nJAVA_VERSION=\"17.0.9\"\nOS_NAME=\"Linux\"\n", 17},
        {"JAVA_VERSION=\"1.8.0_392\"\r\n", 8}, {"JAVA_VERSION=\"11\"", 11}, {"JAVA_VERSION=\"21-ea\"\n", 21},
        {"JAVA_RUNTIME_VERSION=\"17.0.9+9\"\n", 0}, {"JAVA_VERSION=\"\"\n", 0}, {"", 0},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(expected, parse_java_feature_version(text.data(), text.size())) << text;
}

// Instance names: one plain folder name below work, or why not.
static const char DEVICE[] = "Windows names a device so (CON, PRN, AUX, NUL, COM1 to COM9, LPT1 to LPT9, CONIN$, CONOUT$)";

TEST(InstanceName, IsOnePlainFolderNameOrSaysWhyNot)
{
    const std::pair<const char*, const char*> cases[] = {
        {"shop", nullptr}, {"east wing", nullptr}, {".shop", nullptr}, {"a..b", nullptr},
        {".", "'.' and '..' name no folder of their own"}, {"..", "'.' and '..' name no folder of their own"},
        {"a/b", "it holds one of \\ / : * ? \" < > |"}, {"a\\b", "it holds one of \\ / : * ? \" < > |"},
        {"a:b", "it holds one of \\ / : * ? \" < > |"}, {"a*", "it holds one of \\ / : * ? \" < > |"},
        {"a?", "it holds one of \\ / : * ? \" < > |"}, {"a\" \"x", "it holds one of \\ / : * ? \" < > |"},
        {"<a>", "it holds one of \\ / : * ? \" < > |"}, {"a|b", "it holds one of \\ / : * ? \" < > |"},
        {"a\tb", "it holds a control character"}, {"a\x7f", "it holds a control character"},
        {"shop.", "it ends with a blank or a dot"}, {"shop ", "it ends with a blank or a dot"},
        {"NUL", DEVICE}, {"con", DEVICE}, {"Aux.txt", DEVICE}, {"prn .log", DEVICE}, {"COM1", DEVICE},
        {"lpt9.x.y", DEVICE}, {"com\xB9", DEVICE}, {"CONIN$", DEVICE}, {"conout$.txt", DEVICE},
        {"COM0", nullptr}, {"COM10", nullptr}, {"LPT", nullptr}, {"console", nullptr}, {"nul_", nullptr},
        {"a%OS%b", nullptr}, {"\xCE\xA9", nullptr},
    };
    for (auto [name, why] : cases)
        EXPECT_STREQ(why, instance_name_fault(name)) << name;
}

// ZR_STOP_TIMEOUT: whole seconds from 1 to a day, digits only.
TEST(StopTimeout, IsAWholeNumberOfSecondsFromOneToADay)
{
    const std::pair<const char*, int> cases[] = {
        {"1", 1}, {"60", 60}, {"0060", 60}, {"86400", 86400}, {"86401", -1}, {"0", -1}, {"", -1},
        {"-5", -1}, {"+5", -1}, {" 5", -1}, {"5s", -1}, {"99999999999999999999", -1},
    };
    for (auto [text, seconds] : cases)
        EXPECT_EQ(seconds, parse_stop_timeout(text)) << text;
}

// PATH with the Java home's bin and server and the base directory's dll;
// "-1 " and the emptied text when it does not fit.
static std::string composed(bool keeps_inherited, const std::string& java_home, const char* inherited)
{
    os_search_variable variable = {"PATH", keeps_inherited,
        {{OS_BELOW_JAVA_HOME, "bin"}, {OS_BELOW_JAVA_HOME, "server"}, {OS_BELOW_BASE, "dll"}, {}}};
    search_assignment assignment;
    bool fits = compose_search_assignment(&assignment, variable, java_home, "/app/", inherited);
    return fits ? assignment.name + "=" + assignment.value : "-1 " + assignment.value;
}

TEST(ComposeSearchAssignment, NamesTheFoldersInOrderThenWhatWasInheritedIfKept)
{
    EXPECT_EQ("PATH=/jdk/bin:/jdk/server:/app/dll", composed(false, "/jdk", "X"));
    EXPECT_EQ("PATH=/bin:/server:/app/dll", composed(false, "", nullptr));
    EXPECT_EQ("PATH=/jdk/bin:/jdk/server:/app/dll:X", composed(true, "/jdk", "X"));
    EXPECT_EQ("PATH=/jdk/bin:/jdk/server:/app/dll", composed(true, "/jdk", ""));
    // 27 characters around the Java home, which comes twice: 27 + 2 * 4984 + 4 = 9999 fit.
    EXPECT_EQ(9999u, composed(true, std::string(4984, 'j'), "XYZW").size());
    EXPECT_EQ("-1 ", composed(true, std::string(4984, 'j'), "XYZWV"));
}

// The listing of a folder of its own below the temporary folder: every entry
// with its type, links by what they lead to; and the paths it refuses as "no
// such file or directory": none, missing, a file, 256 characters.
TEST(DirListing, ListsEveryEntryWithItsTypeAndRefusesWhatIsNoFolder)
{
    fs::path root = fs::temp_directory_path() / ("zrsvc-unit-" + std::to_string(std::random_device()()));
    std::string longest = root.string() + "/";
    longest += std::string(255 - longest.size(), 'd'); // listed, and its name is an entry
    fs::create_directories(longest);
    std::ofstream(root / "a.jar") << "PK";
    fs::create_directory_symlink(longest, root / "dir-link.jar");
    fs::create_symlink(root / "a.jar", root / "file-link.jar");
    std::map<std::string, os_entry_type> expected = {
        {".", OS_ENTRY_DIRECTORY}, {"..", OS_ENTRY_DIRECTORY}, {fs::path(longest).filename(), OS_ENTRY_DIRECTORY},
        {"a.jar", OS_ENTRY_FILE}, {"dir-link.jar", OS_ENTRY_DIRECTORY}, {"file-link.jar", OS_ENTRY_REPARSE_POINT}};
    int error = 0;
    os_dir* dir = os_dir_open((root.string() + "/").c_str(), &error);
    ASSERT_NE(nullptr, dir) << error;
    std::map<std::string, os_entry_type> listed;
    os_entry_type type;
    while (const char* name = os_dir_next(dir, &type))
        listed[name] = type;
    os_dir_close(dir);
    EXPECT_EQ(expected, listed);
    for (std::string path : {std::string(), (root / "missing").string(), (root / "a.jar").string(), longest + "/"}) {
        EXPECT_EQ(nullptr, os_dir_open(path.c_str(), &error)) << path;
        EXPECT_EQ(ENOENT, error) << path;
    }
    fs::remove_all(root);
}

// ZR_LOG_LIMIT_MB and ZR_LOG_KEEP: whole numbers in their bounds, else refused.
struct LimitsCase {
    const char* limit_mb; // null: not set
    const char* keep;
    unsigned long long limit_bytes; // 0: refused
    int kept;
    const char* failure;
};

void PrintTo(const LimitsCase& c, std::ostream* out)
{
    *out << (c.limit_mb ? c.limit_mb : "unset") << " MiB, keep " << (c.keep ? c.keep : "unset");
}

class LogLimits : public ::testing::TestWithParam<LimitsCase> {};

TEST_P(LogLimits, AreReadFromTheEnvironmentOrRefused)
{
    const LimitsCase& c = GetParam();
    for (auto [name, value] : {std::make_pair("ZR_LOG_LIMIT_MB", c.limit_mb), std::make_pair("ZR_LOG_KEEP", c.keep)}) {
        if (value != nullptr)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    rolling_limits limits;
    run_failure failure = read_log_limits(&limits);
    EXPECT_EQ(c.limit_bytes == 0, failure.failed());
    EXPECT_EQ(c.failure, failure.reason);
    if (c.limit_bytes != 0) {
        EXPECT_EQ(c.limit_bytes, limits.limit_bytes);
        EXPECT_EQ(c.kept, limits.keep);
    }
    unsetenv("ZR_LOG_LIMIT_MB");
    unsetenv("ZR_LOG_KEEP");
}

INSTANTIATE_TEST_SUITE_P(Values, LogLimits, ::testing::Values(
    LimitsCase{nullptr, nullptr, 10ull << 20, 10, ""},
    LimitsCase{"1", "1", 1ull << 20, 1, ""},
    LimitsCase{"4096", "1000", 4096ull << 20, 1000, ""},
    LimitsCase{"0", nullptr, 0, 0, "Invalid ZR_LOG_LIMIT_MB '0': a whole number of MiB from 1 to 4096 is expected"},
    LimitsCase{"4097", nullptr, 0, 0, "Invalid ZR_LOG_LIMIT_MB '4097': a whole number of MiB from 1 to 4096 is expected"},
    LimitsCase{"", nullptr, 0, 0, "Invalid ZR_LOG_LIMIT_MB '': a whole number of MiB from 1 to 4096 is expected"},
    LimitsCase{"10M", nullptr, 0, 0, "Invalid ZR_LOG_LIMIT_MB '10M': a whole number of MiB from 1 to 4096 is expected"},
    LimitsCase{nullptr, "0", 0, 0, "Invalid ZR_LOG_KEEP '0': a whole number of files from 1 to 1000 is expected"},
    LimitsCase{nullptr, "1001", 0, 0, "Invalid ZR_LOG_KEEP '1001': a whole number of files from 1 to 1000 is expected"},
    LimitsCase{nullptr, " 5", 0, 0, "Invalid ZR_LOG_KEEP ' 5': a whole number of files from 1 to 1000 is expected"},
    LimitsCase{"-1", "-1", 0, 0, "Invalid ZR_LOG_LIMIT_MB '-1': a whole number of MiB from 1 to 4096 is expected"}),
    [](const ::testing::TestParamInfo<LimitsCase>& info) { return std::to_string(info.index); });
