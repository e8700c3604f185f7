// The JVM host with the test double of the VM library (tests/double), under
// Wine. Each test lays out a Java home whose bin\server\jvm.dll is a copy of
// the double, scripts the variant it plays, and reads back the calls the
// double recorded in jvm-calls.txt beside it. The host creates one VM per
// process, so every test runs in a process of its own (one ctest test each).
#include "jvm_test_support.h"

#include <windows.h>

#include <algorithm>
#include <sstream>

typedef std::vector<std::string> lines;

struct call {
    unsigned long thread;
    std::string text; // the event and its arguments, separated by blanks
};

static fs::path program_folder()
{
    char path[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, path, sizeof path);
    return fs::path(path).parent_path();
}

// A file of the build tree (given as a Unix path) as Wine names it.
static fs::path from_build_tree(std::string unix_path)
{
    std::replace(unix_path.begin(), unix_path.end(), '/', '\\');
    return fs::path("Z:" + unix_path);
}

static fs::path enter_scratch()
{
    return enter_scratch(program_folder() / "scratch");
}

// Lays out <scratch>\jdk with the double as its VM library, playing variant.
static fs::path java_home(const fs::path& scratch, const char* variant)
{
    fs::path server = scratch / "jdk" / "bin" / "server";
    fs::create_directories(server);
    fs::copy_file(from_build_tree(ZR_TEST_DOUBLE), server / "jvm.dll");
    write_text(server / "jvm-script.txt", std::string(variant) + "\n");
    return scratch / "jdk";
}

static fs::path server_folder(const fs::path& home)
{
    return home / "bin" / "server";
}

static std::vector<call> recorded(const fs::path& folder)
{
    std::vector<call> calls;
    std::istringstream in(read_text(folder / "jvm-calls.txt"));
    for (std::string line; std::getline(in, line);) {
        size_t tab = line.find('\t');
        if (tab == std::string::npos)
            continue; // a line still being written
        std::string text = line.substr(tab + 1);
        if (text.compare(0, 12, "environment\t") == 0)
            continue; // what the process's environment held, not a call
        std::replace(text.begin(), text.end(), '\t', ' ');
        calls.push_back({std::stoul(line.substr(0, tab)), text});
    }
    return calls;
}

static lines calls_of(const std::vector<call>& calls, unsigned long thread)
{
    lines texts;
    for (const call& c : calls) {
        if (c.thread == thread)
            texts.push_back(c.text);
    }
    return texts;
}

static size_t position_of(const std::vector<call>& calls, const std::string& text)
{
    for (size_t i = 0; i < calls.size(); ++i) {
        if (calls[i].text == text)
            return i;
    }
    return calls.size();
}

static bool has_call(const fs::path& folder, const std::string& text)
{
    std::vector<call> calls = recorded(folder);
    return position_of(calls, text) < calls.size();
}

// No call while an exception was pending, and none outside the played slots.
static void expect_proper_use(const std::vector<call>& calls)
{
    for (const call& c : calls) {
        EXPECT_NE(0u, c.text.find("violation")) << c.text;
        EXPECT_NE(0u, c.text.find("unexpected")) << c.text;
    }
}

// The calls were proper, and the thread that called stop() was detached last.
static void expect_stop_thread_detached(const std::vector<call>& calls, unsigned long thread)
{
    expect_proper_use(calls);
    lines stopping = calls_of(calls, thread);
    ASSERT_FALSE(stopping.empty());
    EXPECT_EQ("DetachCurrentThread", stopping.back());
}

// The service thread, noting its thread id.
struct service_run {
    service_thread s;
    std::atomic<unsigned long> thread{0};
};

static void start_service(service_run& run, const fs::path& home, const std::string& option = "-Djava.class.path=C:\\app\\conf")
{
    run.s.on_begin = [&run] { run.thread = GetCurrentThreadId(); };
    start_service_thread(run.s, home.string(), option);
}

// True once start() can no longer be running.
static bool start_over(service_run& run)
{
    return run.s.created == 0 || run.s.start_returned;
}

struct stop_outcome {
    int result = 1;
    unsigned long thread = 0;
};

static stop_outcome stop_from_another_thread()
{
    stop_outcome outcome;
    std::thread([&outcome] {
        outcome.thread = GetCurrentThreadId();
        outcome.result = invoke_stop();
    }).join();
    return outcome;
}

TEST(JvmDouble, CallsInOrderOnTheirThreads)
{
    fs::path scratch = enter_scratch();
    fs::path home = java_home(scratch, "block");
    fs::path server = server_folder(home);
    const std::string option = "-Djava.class.path=C:\\app\\lib\\a b.jar;C:\\app\\conf";
    service_run run;
    start_service(run, home, option);
    ASSERT_TRUE(eventually([&] { return has_call(server, "CallStaticVoidMethodV start") || start_over(run); }));
    EXPECT_TRUE(jvm_exists());
    EXPECT_FALSE(run.s.start_returned);

    stop_outcome stop = stop_from_another_thread();
    EXPECT_EQ(STOP_RETURNED, stop.result);
    ASSERT_TRUE(start_ended(run.s));
    EXPECT_EQ(START_RETURNED, run.s.start_result);
    finish(run.s);
    EXPECT_FALSE(jvm_exists());

    std::vector<call> calls = recorded(server);
    EXPECT_EQ((lines{"load " + (server / "jvm.dll").string(),
                     "JNI_CreateJavaVM version=0x00010002 nOptions=4 ignoreUnrecognized=0 option0=vfprintf extraInfo0=set"
                     " option1=exit extraInfo1=set option2=abort extraInfo2=set option3=" + option + " extraInfo3=null",
                     "FindClass qo/wyn/zr/NTService", "GetStaticMethodID start ()V", "CallStaticVoidMethodV start",
                     "returned start", "ExceptionOccurred", "DestroyJavaVM"}),
              calls_of(calls, run.thread));
    EXPECT_NE(run.thread, stop.thread);
    EXPECT_EQ((lines{"AttachCurrentThread args=null", "FindClass qo/wyn/zr/NTService", "GetStaticMethodID stop ()V",
                     "CallStaticVoidMethodV stop", "returned stop", "ExceptionOccurred", "DetachCurrentThread"}),
              calls_of(calls, stop.thread));
    EXPECT_EQ(15u, calls.size());
    EXPECT_LT(position_of(calls, "CallStaticVoidMethodV stop"), position_of(calls, "returned start"));
    EXPECT_EQ(lines{"Invoking stop()"}, logged(scratch));
}

TEST(JvmDouble, ExceptionsOfStartAndStopAreLoggedAndCleared)
{
    fs::path scratch = enter_scratch();
    fs::path home = java_home(scratch, "throw");
    service_run run;
    start_service(run, home);
    ASSERT_TRUE(start_ended(run.s));
    EXPECT_EQ(START_THREW, run.s.start_result);
    stop_outcome stop = stop_from_another_thread();
    EXPECT_EQ(STOP_RETURNED, stop.result);
    finish(run.s);

    expect_stop_thread_detached(recorded(server_folder(home)), stop.thread);
    EXPECT_EQ((lines{"start() ended with an exception: java.lang.IllegalStateException: boom", "Invoking stop()",
                     "stop() ended with an exception: java.lang.IllegalStateException: refused"}),
              logged(scratch));
}

TEST(JvmDouble, MissingClassIsReportedAndItsExceptionCleared)
{
    fs::path scratch = enter_scratch();
    fs::path home = java_home(scratch, "noclass");
    service_run run;
    start_service(run, home);
    ASSERT_TRUE(start_ended(run.s));
    EXPECT_EQ(START_NO_CLASS, run.s.start_result);
    stop_outcome stop = stop_from_another_thread();
    EXPECT_EQ(STOP_NO_CLASS, stop.result);
    finish(run.s);

    expect_stop_thread_detached(recorded(server_folder(home)), stop.thread);
    const std::string missing = "Cannot find main class qo/wyn/zr/NTService";
    const std::string why = "Lookup ended with an exception: java.lang.NoClassDefFoundError: qo/wyn/zr/NTService";
    EXPECT_EQ((lines{missing, why, "Invoking stop()", missing, why}), logged(scratch));
}

TEST(JvmDouble, MissingStartIsReportedAndItsExceptionCleared)
{
    fs::path scratch = enter_scratch();
    fs::path home = java_home(scratch, "nostart");
    service_run run;
    start_service(run, home);
    ASSERT_TRUE(start_ended(run.s));
    EXPECT_EQ(START_NO_METHOD, run.s.start_result);
    finish(run.s);

    expect_proper_use(recorded(server_folder(home)));
    EXPECT_EQ((lines{"Cannot find start() method",
                     "Lookup ended with an exception: java.lang.NoSuchMethodError: static "
                     "Lqo/wyn/zr/NTService;.start()V"}),
              logged(scratch));
}

TEST(JvmDouble, MissingStopIsReportedAndTheThreadDetached)
{
    fs::path scratch = enter_scratch();
    fs::path home = java_home(scratch, "nostop");
    service_run run;
    start_service(run, home);
    ASSERT_TRUE(start_ended(run.s));
    EXPECT_EQ(START_RETURNED, run.s.start_result);
    stop_outcome stop = stop_from_another_thread();
    EXPECT_EQ(STOP_NO_METHOD, stop.result);
    finish(run.s);

    expect_stop_thread_detached(recorded(server_folder(home)), stop.thread);
    EXPECT_EQ((lines{"Invoking stop()", "Cannot find stop() method",
                     "Lookup ended with an exception: java.lang.NoSuchMethodError: static "
                     "Lqo/wyn/zr/NTService;.stop()V"}),
              logged(scratch));
}

TEST(JvmDouble, FailedAttachIsReportedWithoutDetach)
{
    fs::path scratch = enter_scratch();
    fs::path home = java_home(scratch, "noattach");
    service_run run;
    start_service(run, home);
    ASSERT_TRUE(start_ended(run.s));
    stop_outcome stop = stop_from_another_thread();
    EXPECT_EQ(STOP_NO_ATTACH, stop.result);
    finish(run.s);

    EXPECT_EQ(lines{"AttachCurrentThread args=null"}, calls_of(recorded(server_folder(home)), stop.thread));
    EXPECT_EQ((lines{"Invoking stop()", "Cannot attach current thread to JVM"}), logged(scratch));
}

TEST(JvmDouble, FailedCreationLeavesNoVm)
{
    fs::path scratch = enter_scratch();
    fs::path home = java_home(scratch, "createfail");
    service_run run;
    start_service(run, home);
    ASSERT_TRUE(start_ended(run.s));
    EXPECT_EQ(0, run.s.created);
    EXPECT_FALSE(jvm_exists());
    stop_outcome stop = stop_from_another_thread();
    EXPECT_EQ(STOP_NO_ATTACH, stop.result);
    finish(run.s);

    std::vector<call> calls = recorded(server_folder(home));
    ASSERT_EQ(2u, calls.size()); // the load and the creation, nothing more
    EXPECT_EQ(0u, calls[1].text.find("JNI_CreateJavaVM "));
    EXPECT_EQ((lines{"JNI_CreateJavaVM failed: -1", "Invoking stop()", "Cannot invoke stop(): no JVM exists"}),
              logged(scratch));
}

TEST(JvmDouble, MissingLibraryIsReported)
{
    fs::path scratch = enter_scratch();
    fs::path home = scratch / "jdk";
    fs::create_directories(home / "bin");
    EXPECT_FALSE(create_jvm(home.string().c_str(), "-Djava.class.path=C:\\app\\conf"));
    EXPECT_FALSE(jvm_exists());
    EXPECT_EQ(lines{"LoadLibraryEx('" + (server_folder(home) / "jvm.dll").string() + "') failed: 126"},
              logged(scratch));
}

TEST(JvmDouble, LibraryWithoutEntryPointIsReported)
{
    fs::path scratch = enter_scratch();
    fs::path home = scratch / "jdk";
    fs::create_directories(server_folder(home));
    fs::copy_file(from_build_tree(ZR_TEST_NO_ENTRY_LIBRARY), server_folder(home) / "jvm.dll");
    EXPECT_FALSE(create_jvm(home.string().c_str(), "-Djava.class.path=C:\\app\\conf"));
    EXPECT_FALSE(jvm_exists());
    EXPECT_EQ(lines{"GetProcAddress('" + (server_folder(home) / "jvm.dll").string() +
                    "', 'JNI_CreateJavaVM') failed: 127"},
              logged(scratch));
}

// Copies of the double in the program's folder, the current directory and a
// folder of PATH, the places a library loaded by its bare name comes from.
TEST(JvmDouble, DecoysAreNeverLoaded)
{
    fs::path scratch = enter_scratch();
    fs::path home = java_home(scratch, "return");
    fs::path decoys[] = {program_folder(), scratch / "cwd", scratch / "on-path"};
    struct removal {
        fs::path folder;
        ~removal()
        {
            std::error_code ignored;
            fs::remove(folder / "jvm.dll", ignored);
            fs::remove(folder / "jvm-script.txt", ignored);
        }
    } beside_program{program_folder()};
    for (const fs::path& folder : decoys) {
        fs::create_directories(folder);
        fs::remove(folder / "jvm.dll");
        fs::remove(folder / "jvm-calls.txt");
        fs::copy_file(from_build_tree(ZR_TEST_DOUBLE), folder / "jvm.dll");
        write_text(folder / "jvm-script.txt", "return\n"); // a host that loads one does not hang on it
    }
    fs::current_path(scratch / "cwd");
    ASSERT_TRUE(SetEnvironmentVariableA("PATH", ((scratch / "on-path").string() + ";" + getenv("PATH")).c_str()));

    service_run run;
    start_service(run, home);
    ASSERT_TRUE(start_ended(run.s));
    EXPECT_EQ(START_RETURNED, run.s.start_result);
    finish(run.s);

    EXPECT_TRUE(has_call(server_folder(home), "load " + (server_folder(home) / "jvm.dll").string()));
    for (const fs::path& folder : decoys)
        EXPECT_FALSE(fs::exists(folder / "jvm-calls.txt")) << folder;
}
