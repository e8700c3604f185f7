#include "instance/instance.h"
#include "platform/os_dir.h"
#include "platform/os_process.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <cstring>
#include <map>
#include <random>
#include <string>

namespace fs = std::filesystem;

// A text written with Windows separators, in this platform's separators.
static std::string native(std::string text)
{
    for (char& c : text) {
        if (c == '\\')
            c = OS_PATH_SEPARATOR;
        else if (c == ';')
            c = OS_CLASS_PATH_SEPARATOR;
    }
    return text;
}

static std::string normalised(const std::string& value)
{
    std::string text = native(value);
    normalise_java_home(&text[0]);
    return text.c_str();
}

TEST(NormaliseJavaHome, TakesOffEnclosingQuotesOnceThenOneTrailingSeparator)
{
    EXPECT_EQ(native("C:\\Program Files\\jdk"), normalised("\"C:\\Program Files\\jdk\\\""));
    EXPECT_EQ(native("C:\\jdk\\"), normalised("C:\\jdk\\\\"));
    EXPECT_EQ(native("C:\\jdk\\\""), normalised("\"C:\\jdk\\\"\""));
    EXPECT_EQ(native("a\"b\"c"), normalised("\"a\"b\"c\""));
    EXPECT_EQ(native("\"C:\\jdk"), normalised("\"C:\\jdk"));
    EXPECT_EQ("", normalised("\"\\\""));
}

// PATH with the Java home's bin and server and the base directory's dll.
static std::string composed(bool keeps_inherited, const std::string& java_home, const char* inherited)
{
    os_search_variable variable = {"PATH", keeps_inherited,
        {{OS_BELOW_JAVA_HOME, "bin"}, {OS_BELOW_JAVA_HOME, "server"}, {OS_BELOW_BASE, "dll"}, {}}};
    char text[LONG_TEXT_CAPACITY];
    int result = compose_search_assignment(text, variable, native(java_home).c_str(),
                                           native("C:\\app\\").c_str(), inherited);
    return result == 0 ? text : "-1 " + std::string(text);
}

TEST(ComposeSearchAssignment, NamesTheFoldersInOrderThenWhatWasInheritedIfKept)
{
    EXPECT_EQ(native("PATH=C:\\jdk\\bin;C:\\jdk\\server;C:\\app\\dll"), composed(false, "C:\\jdk", "X"));
    EXPECT_EQ(native("PATH=\\bin;\\server;C:\\app\\dll"), composed(false, "", nullptr));
    EXPECT_EQ(native("PATH=C:\\jdk\\bin;C:\\jdk\\server;C:\\app\\dll;X"), composed(true, "C:\\jdk", "X"));
    EXPECT_EQ(native("PATH=C:\\jdk\\bin;C:\\jdk\\server;C:\\app\\dll"), composed(true, "C:\\jdk", ""));
}

TEST(ComposeSearchAssignment, FillsTheBufferExactlyOrFailsEmpty)
{
    // "PATH=", "\bin;", "\server;", "C:\app\dll" and ";" are 29 characters,
    // the Java home comes twice: 29 + 2 * 4984 + 2 = 9999 characters fit.
    std::string home(4984, 'j');
    EXPECT_EQ(LONG_TEXT_CAPACITY - 1u, composed(true, home, "XY").size());
    EXPECT_EQ("-1 ", composed(true, home, "XYZ"));
}

// A folder of its own below the temporary folder, removed after the test.
class TemporaryFolder : public testing::Test {
protected:
    fs::path root = fs::temp_directory_path() / ("zrsvc-unit-" + std::to_string(std::random_device()()));

    void SetUp() override { fs::create_directories(root); }
    void TearDown() override { fs::remove_all(root); }

    void make_file(const fs::path& path) { std::ofstream(path) << "PK"; }
};

TEST_F(TemporaryFolder, ScanAddsEachJarOfTheFolderAndSkipsTheRest)
{
    fs::create_directories(root / "bin" / "lib.jar");
    make_file(root / "bin" / "a.jar");
    make_file(root / "bin" / "b.txt");
    std::string base = root.string() + OS_PATH_SEPARATOR;
    strcpy(g_class_path_option, "-Djava.class.path=");

    EXPECT_EQ(0, scan_jar_folder(base.c_str(), "bin"));
    EXPECT_EQ(-1, scan_jar_folder(base.c_str(), "lib"));
    EXPECT_EQ("-Djava.class.path=" + base + "bin" + OS_PATH_SEPARATOR + "a.jar" + OS_CLASS_PATH_SEPARATOR,
              g_class_path_option);
}

class DirListing : public TemporaryFolder {
protected:
    // Every entry as name -> type; fails the test when the folder cannot be listed.
    std::map<std::string, os_entry_type> list(const fs::path& folder)
    {
        std::map<std::string, os_entry_type> entries;
        int error = 0;
        os_dir* dir = os_dir_open(folder.string().c_str(), &error);
        EXPECT_NE(nullptr, dir) << strerror(error);
        if (dir == nullptr)
            return entries;
        os_entry_type type;
        while (const char* name = os_dir_next(dir, &type))
            entries[name] = type;
        os_dir_close(dir);
        return entries;
    }

    int open_error(const std::string& path)
    {
        int error = 0;
        os_dir* dir = os_dir_open(path.c_str(), &error);
        if (dir != nullptr)
            os_dir_close(dir);
        return dir == nullptr ? error : 0;
    }
};

TEST_F(DirListing, YieldsEveryEntryWithItsType)
{
    make_file(root / "a.jar");
    fs::create_directory(root / "lib.jar");
    std::map<std::string, os_entry_type> expected = {
        {".", OS_ENTRY_DIRECTORY}, {"..", OS_ENTRY_DIRECTORY},
        {"a.jar", OS_ENTRY_FILE}, {"lib.jar", OS_ENTRY_DIRECTORY}};
    // Links cannot be made everywhere (Wine reports success and makes none).
    std::error_code ignored;
    fs::create_directory_symlink(root / "lib.jar", root / "dir-link.jar", ignored);
    if (fs::is_symlink(root / "dir-link.jar"))
        expected["dir-link.jar"] = OS_ENTRY_DIRECTORY;
    fs::create_symlink(root / "a.jar", root / "file-link.jar", ignored);
    if (fs::is_symlink(root / "file-link.jar"))
        expected["file-link.jar"] = OS_ENTRY_REPARSE_POINT;

    EXPECT_EQ(expected, list(root));
    // A trailing separator is allowed.
    EXPECT_EQ(expected, list(root.string() + OS_PATH_SEPARATOR));
}

TEST_F(DirListing, RefusesEmptyOverlongMissingAndFilePathsAsNoSuchFile)
{
    make_file(root / "file.jar");
    EXPECT_EQ(ENOENT, open_error(""));
    EXPECT_EQ(ENOENT, open_error((root / "missing").string()));
    EXPECT_EQ(ENOENT, open_error((root / "file.jar").string()));

    // 255 characters are listed, 256 are not.
    std::string path = root.string() + OS_PATH_SEPARATOR;
    path += std::string(255 - path.size(), 'd');
    fs::create_directory(path);
    EXPECT_EQ(0, open_error(path));
    EXPECT_EQ(ENOENT, open_error(path + OS_PATH_SEPARATOR));
}

TEST(OsErrorNumber, MapsWindowsCodesAsTheCRuntimeDoes)
{
    if (OS_PATH_SEPARATOR != '\\')
        GTEST_SKIP() << "error codes are error numbers here";
    EXPECT_EQ(ENOENT, os_error_number(2));   // file not found
    EXPECT_EQ(ENOENT, os_error_number(3));   // path not found
    EXPECT_EQ(EACCES, os_error_number(5));   // access denied
    EXPECT_EQ(EACCES, os_error_number(32));  // sharing violation
    EXPECT_EQ(EACCES, os_error_number(33));  // lock violation
    EXPECT_EQ(EACCES, os_error_number(21));  // device not ready
    EXPECT_EQ(EINVAL, os_error_number(123)); // invalid name
    EXPECT_EQ(ENOEXEC, os_error_number(193));
    EXPECT_EQ(EINVAL, os_error_number(99999));
}
