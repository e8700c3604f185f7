// The JVM host with the real VM of the JDK: how it reports a VM library it
// cannot use and a Java service class that does not keep the contract. A
// process can host one VM only, so every case runs in a process of its own
// (one ctest test each).
#include "jvm/jvm_host.h"
#include "log/log.h"
#include "platform/os_process.h"

#include <gtest/gtest.h>
#include <jni.h>

#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
typedef std::vector<std::string> lines;

// A fresh folder named after the running test, made the current directory,
// with the log sink pointed at its "zrsvc-log.txt".
static fs::path enter_scratch()
{
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(test->test_suite_name()) + "." + test->name();
    for (char& c : name)
        c = c == '/' ? '.' : c;
    fs::path folder = fs::path(ZR_TEST_SCRATCH) / name;
    fs::remove_all(folder);
    fs::create_directories(folder);
    fs::current_path(folder);
    log_to_file(os_open_text_for_writing((folder / "zrsvc-log.txt").string().c_str()));
    return folder;
}

// The messages logged into the scratch folder's log, without timestamps and
// without the stack-trace frames that are not the service class's own (those
// of the class loader vary).
static lines logged(const fs::path& scratch)
{
    lines messages;
    std::ifstream in(scratch / "zrsvc-log.txt");
    for (std::string line; std::getline(in, line);) {
        EXPECT_EQ(" - ", line.substr(19, 3)) << line;
        std::string message = line.substr(22);
        if (message.compare(0, 4, "\tat ") != 0 || message.compare(0, 14, "\tat qo.wyn.zr.") == 0)
            messages.push_back(message);
    }
    return messages;
}

// The JNIEnv of the calling thread if it is attached to the process's VM.
static JNIEnv* env_of_this_thread()
{
    void* library = dlopen(ZR_TEST_JAVA_HOME "/lib/server/libjvm.so", RTLD_NOW | RTLD_NOLOAD);
    typedef jint (*created_vms)(JavaVM**, jsize, jsize*);
    auto list = library ? reinterpret_cast<created_vms>(dlsym(library, "JNI_GetCreatedJavaVMs")) : nullptr;
    JavaVM* vm = nullptr;
    jsize count = 0;
    JNIEnv* env = nullptr;
    if (list != nullptr && list(&vm, 1, &count) == JNI_OK && count == 1)
        vm->GetEnv(reinterpret_cast<void**>(&env), JNI_VERSION_1_2);
    return env;
}

struct library_case {
    const char* name;
    const char* setup;    // "missing", "not ELF", "no entry point", "relative", "too long"
    std::string expected; // the one line logged; {lib} stands for the library's path
};

static void PrintTo(const library_case& c, std::ostream* out)
{
    *out << c.name;
}

class JvmLibrary : public testing::TestWithParam<library_case> {};

TEST_P(JvmLibrary, UnusableLibraryIsReportedAndNoVmCreated)
{
    fs::path scratch = enter_scratch();
    const library_case& c = GetParam();
    std::string home = (scratch / "jdk").string();
    std::string library = home + "/lib/server/libjvm.so";
    fs::create_directories(fs::path(library).parent_path());
    if (std::string(c.setup) == "not ELF")
        std::ofstream(library) << std::string(100, 'x');
    if (std::string(c.setup) == "no entry point")
        fs::copy_file(ZR_TEST_NO_ENTRY_LIBRARY, library);
    if (std::string(c.setup) == "missing")
        fs::remove(library);
    if (std::string(c.setup) == "relative")
        home = "jdk";
    if (std::string(c.setup) == "too long") // "/lib/server/libjvm.so" has 21 characters; a path holds 259
        home = "/" + std::string(238, 'j');
    const char* option = "-Djava.class.path=conf";
    EXPECT_FALSE(create_jvm(home.c_str(), &option, 1));
    EXPECT_FALSE(jvm_exists());
    std::string expected = c.expected;
    for (auto [token, value] : {std::pair<std::string, std::string>{"{lib}", library}, {"{home}", home}}) {
        for (size_t at; (at = expected.find(token)) != std::string::npos;)
            expected.replace(at, token.size(), value);
    }
    EXPECT_EQ(lines{expected}, logged(scratch));
}

INSTANTIATE_TEST_SUITE_P(Cases, JvmLibrary, testing::Values(
    library_case{"Missing", "missing",
                 "dlopen('{lib}') failed: {lib}: cannot open shared object file: No such file or directory"},
    library_case{"NotElf", "not ELF", "dlopen('{lib}') failed: {lib}: invalid ELF header"},
    library_case{"NoEntryPoint", "no entry point",
                 "dlsym('{lib}', 'JNI_CreateJavaVM') failed: {lib}: undefined symbol: JNI_CreateJavaVM"},
    library_case{"Relative", "relative",
                 "Java home '{home}' is not an absolute path: the VM library is not loaded from it"},
    library_case{"TooLong", "too long",
                 "Java home '{home}' is too long: its VM library path exceeds 259 characters"}),
    [](const testing::TestParamInfo<library_case>& info) { return std::string(info.param.name); });

struct class_case {
    const char* variant; // a class folder of tests/java, or "" for none
    int start_result;
    int stop_result;
    lines expected;      // the log, trace frames left out
};

static void PrintTo(const class_case& c, std::ostream* out)
{
    *out << c.variant;
}

class ServiceClass : public testing::TestWithParam<class_case> {};

// start() on the creating thread, then stop() from a thread of its own: each
// failure is logged once, no exception is left pending (the VM would print it
// on standard error when the stopping thread detaches), and the stopping
// thread is detached again.
TEST_P(ServiceClass, FailuresAreLoggedAndTheirExceptionsCleared)
{
    fs::path scratch = enter_scratch();
    const class_case& c = GetParam();
    std::string option = "-Djava.class.path=" + (*c.variant ? std::string(ZR_TEST_CLASSES "/") + c.variant : "none");
    int start_result = 1;
    bool pending = true;
    std::thread service([&] {
        const char* options[] = {option.c_str()};
        ASSERT_TRUE(create_jvm(ZR_TEST_JAVA_HOME, options, 1));
        start_result = invoke_start();
        pending = env_of_this_thread()->ExceptionCheck();
        int stop_result = 1;
        bool attached_after = true;
        testing::internal::CaptureStderr();
        std::thread([&] {
            stop_result = invoke_stop();
            attached_after = env_of_this_thread() != nullptr;
        }).join();
        EXPECT_EQ("", testing::internal::GetCapturedStderr());
        EXPECT_EQ(c.stop_result, stop_result);
        EXPECT_FALSE(attached_after);
        destroy_jvm();
    });
    service.join();
    EXPECT_EQ(c.start_result, start_result);
    EXPECT_FALSE(pending);
    EXPECT_FALSE(jvm_exists());
    EXPECT_EQ(c.expected, logged(scratch));
}

static const char NO_CLASS[] = "Cannot find main class qo/wyn/zr/NTService";
static const char NO_CLASS_WHY[] =
    "Lookup ended with an exception: java.lang.NoClassDefFoundError: qo/wyn/zr/NTService";
static const char NO_CLASS_CAUSE[] = "Caused by: java.lang.ClassNotFoundException: qo.wyn.zr.NTService";
static const char NO_METHOD_WHY[] = "Lookup ended with an exception: java.lang.NoSuchMethodError: static "
                                    "Lqo/wyn/zr/NTService;.";

INSTANTIATE_TEST_SUITE_P(Cases, ServiceClass, testing::Values(
    class_case{"", START_NO_CLASS, STOP_NO_CLASS,
               {NO_CLASS, NO_CLASS_WHY, NO_CLASS_CAUSE, "Invoking stop()", NO_CLASS, NO_CLASS_WHY, NO_CLASS_CAUSE}},
    class_case{"nostart", START_NO_METHOD, STOP_RETURNED,
               {"Cannot find start() method", std::string(NO_METHOD_WHY) + "start()V", "Invoking stop()"}},
    class_case{"nostop", START_RETURNED, STOP_NO_METHOD,
               {"Invoking stop()", "Cannot find stop() method", std::string(NO_METHOD_WHY) + "stop()V"}},
    class_case{"throwing", START_THREW, STOP_RETURNED,
               {"start() ended with an exception: java.lang.IllegalStateException: boom",
                "\tat qo.wyn.zr.NTService.start(NTService.java:6)", "Invoking stop()",
                "stop() ended with an exception: java.lang.IllegalStateException: refused",
                "\tat qo.wyn.zr.NTService.stop(NTService.java:10)"}}),
    [](const testing::TestParamInfo<class_case>& info) {
        return *info.param.variant ? std::string(info.param.variant) : std::string("noclass");
    });
