// The JVM host with the real VM of the JDK. A process can host one VM only,
// so every test runs in a process of its own (one ctest test each). The Java
// service classes of tests/java leave files in the current directory, which
// is the test's scratch folder.
#include "jvm_test_support.h"

#include <jni.h>
#include <dlfcn.h>

typedef std::vector<std::string> lines;

static std::string class_path(const std::string& folder)
{
    return "-Djava.class.path=" + folder;
}

static std::string variant(const char* name)
{
    return class_path(std::string(ZR_TEST_CLASSES) + "/" + name);
}

// The VM of this process as the VM library itself reports it; null when the
// library is not loaded or holds no VM.
static JavaVM* created_vm()
{
    void* library = dlopen(ZR_TEST_JAVA_HOME "/lib/server/libjvm.so", RTLD_NOW | RTLD_NOLOAD);
    if (library == nullptr)
        return nullptr;
    typedef jint (*created_vms)(JavaVM**, jsize, jsize*);
    auto list = reinterpret_cast<created_vms>(dlsym(library, "JNI_GetCreatedJavaVMs"));
    JavaVM* vm = nullptr;
    jsize count = 0;
    if (list == nullptr || list(&vm, 1, &count) != JNI_OK || count != 1)
        vm = nullptr;
    dlclose(library);
    return vm;
}

static JNIEnv* env_of_this_thread()
{
    JNIEnv* env = nullptr;
    if (created_vm()->GetEnv(reinterpret_cast<void**>(&env), JNI_VERSION_1_2) != JNI_OK)
        return nullptr;
    return env;
}

// What a thread of its own saw around invoke_stop: whether it was attached
// before and after, and what the VM printed on stderr meanwhile (an exception
// still pending when a thread detaches is printed there).
struct stop_outcome {
    int result = 1;
    bool attached_before = true;
    bool attached_after = true;
    std::string stderr_text;
};

static stop_outcome stop_from_another_thread()
{
    stop_outcome outcome;
    testing::internal::CaptureStderr();
    std::thread([&outcome] {
        outcome.attached_before = env_of_this_thread() != nullptr;
        outcome.result = invoke_stop();
        outcome.attached_after = env_of_this_thread() != nullptr;
    }).join();
    outcome.stderr_text = testing::internal::GetCapturedStderr();
    return outcome;
}

// Notes on the service thread whether start() left an exception pending.
static void note_pending_exception(service_thread& s, std::atomic<int>& pending)
{
    s.after_start = [&pending] { pending = env_of_this_thread()->ExceptionCheck() ? 1 : 0; };
}

TEST(JvmHost, CreatesTheVmWithTheClassPathAndDestroysIt)
{
    fs::path scratch = enter_scratch(ZR_TEST_SCRATCH);
    service_thread s;
    start_service_thread(s, ZR_TEST_JAVA_HOME, variant("returning"));
    ASSERT_TRUE(start_ended(s));
    ASSERT_EQ(1, s.created);
    EXPECT_TRUE(jvm_exists());
    EXPECT_EQ(START_RETURNED, s.start_result);
    // Java knows the creating thread as its "main" thread.
    EXPECT_EQ("main", read_text(scratch / "start-ran"));

    finish(s);
    EXPECT_FALSE(jvm_exists());
    EXPECT_EQ(nullptr, created_vm());
    EXPECT_EQ(lines{}, logged(scratch));
}

TEST(JvmHost, CreationFailsOnAnOptionTheVmDoesNotRecognise)
{
    fs::path scratch = enter_scratch(ZR_TEST_SCRATCH);
    service_thread s;
    testing::internal::CaptureStderr();
    start_service_thread(s, ZR_TEST_JAVA_HOME, "java.class.path=" ZR_TEST_CLASSES "/returning");
    ASSERT_TRUE(start_ended(s));
    std::string vm_says = testing::internal::GetCapturedStderr();
    EXPECT_EQ(0, s.created);
    EXPECT_FALSE(jvm_exists());
    EXPECT_NE(std::string::npos, vm_says.find("Unrecognized option: java.class.path=")) << vm_says;
    finish(s);
    EXPECT_EQ((lines{"Unrecognized option: java.class.path=" ZR_TEST_CLASSES "/returning", "JNI_CreateJavaVM failed: -1"}),
              logged(scratch));
}

TEST(JvmHost, StopFromAnotherThreadEndsTheBlockingStart)
{
    fs::path scratch = enter_scratch(ZR_TEST_SCRATCH);
    service_thread s;
    start_service_thread(s, ZR_TEST_JAVA_HOME, variant("blocking"));
    ASSERT_TRUE(eventually([&] { return fs::exists(scratch / "started") || s.created == 0; }));
    ASSERT_EQ(1, s.created);
    EXPECT_FALSE(s.start_returned);

    stop_outcome stop = stop_from_another_thread();
    EXPECT_EQ(STOP_RETURNED, stop.result);
    EXPECT_FALSE(stop.attached_before);
    EXPECT_FALSE(stop.attached_after);
    ASSERT_TRUE(start_ended(s));
    EXPECT_EQ(START_RETURNED, s.start_result);
    // stop() ran on the stopping thread, attached for the call.
    std::string stopper = read_text(scratch / "stop-called");
    EXPECT_NE("", stopper);
    EXPECT_NE("main", stopper);

    finish(s);
    EXPECT_FALSE(jvm_exists());
    EXPECT_EQ(lines{"Invoking stop()"}, logged(scratch));
}

TEST(JvmHost, DestructionWaitsForTheApplicationsNonDaemonThreads)
{
    fs::path scratch = enter_scratch(ZR_TEST_SCRATCH);
    service_thread s;
    start_service_thread(s, ZR_TEST_JAVA_HOME, variant("lingering"));
    ASSERT_TRUE(start_ended(s));
    EXPECT_EQ(START_RETURNED, s.start_result);
    finish(s);
    // The thread start() left behind ends half a second later.
    EXPECT_EQ("done", read_text(scratch / "lingerer-done"));
    EXPECT_EQ(nullptr, created_vm());
}

TEST(JvmHost, MissingClassIsReportedAndItsExceptionCleared)
{
    fs::path scratch = enter_scratch(ZR_TEST_SCRATCH);
    fs::create_directory(scratch / "empty");
    service_thread s;
    std::atomic<int> pending{-1};
    note_pending_exception(s, pending);
    start_service_thread(s, ZR_TEST_JAVA_HOME, class_path((scratch / "empty").string()));
    ASSERT_TRUE(start_ended(s));
    EXPECT_EQ(START_NO_CLASS, s.start_result);
    EXPECT_EQ(0, pending);

    stop_outcome stop = stop_from_another_thread();
    EXPECT_EQ(STOP_NO_CLASS, stop.result);
    EXPECT_FALSE(stop.attached_after);
    EXPECT_EQ("", stop.stderr_text);
    finish(s);

    // Each lookup's exception is logged with its trace, whose frames are the
    // class loader's: only the lines naming the service class are compared.
    const std::string missing = "Cannot find main class qo/wyn/zr/NTService";
    const std::string why = "Lookup ended with an exception: java.lang.NoClassDefFoundError: qo/wyn/zr/NTService";
    const std::string cause = "Caused by: java.lang.ClassNotFoundException: qo.wyn.zr.NTService";
    lines log = logged(scratch);
    lines untraced;
    for (const std::string& line : log) {
        if (line.compare(0, 4, "\tat ") != 0)
            untraced.push_back(line);
    }
    EXPECT_EQ((lines{missing, why, cause, "Invoking stop()", missing, why, cause}), untraced);
}

TEST(JvmHost, MissingStartIsReportedAndItsExceptionCleared)
{
    fs::path scratch = enter_scratch(ZR_TEST_SCRATCH);
    service_thread s;
    std::atomic<int> pending{-1};
    note_pending_exception(s, pending);
    start_service_thread(s, ZR_TEST_JAVA_HOME, variant("nostart"));
    ASSERT_TRUE(start_ended(s));
    EXPECT_EQ(START_NO_METHOD, s.start_result);
    EXPECT_EQ(0, pending);
    finish(s);
    EXPECT_EQ((lines{"Cannot find start() method",
                     "Lookup ended with an exception: java.lang.NoSuchMethodError: static Lqo/wyn/zr/NTService;.start()V"}),
              logged(scratch));
}

TEST(JvmHost, MissingStopIsReportedAndTheThreadDetached)
{
    fs::path scratch = enter_scratch(ZR_TEST_SCRATCH);
    service_thread s;
    start_service_thread(s, ZR_TEST_JAVA_HOME, variant("nostop"));
    ASSERT_TRUE(start_ended(s));
    EXPECT_EQ(START_RETURNED, s.start_result);

    stop_outcome stop = stop_from_another_thread();
    EXPECT_EQ(STOP_NO_METHOD, stop.result);
    EXPECT_FALSE(stop.attached_after);
    EXPECT_EQ("", stop.stderr_text);
    finish(s);
    EXPECT_EQ((lines{"Invoking stop()", "Cannot find stop() method",
                     "Lookup ended with an exception: java.lang.NoSuchMethodError: static Lqo/wyn/zr/NTService;.stop()V"}),
              logged(scratch));
}

TEST(JvmHost, ExceptionsOfStartAndStopAreLoggedAndCleared)
{
    fs::path scratch = enter_scratch(ZR_TEST_SCRATCH);
    service_thread s;
    std::atomic<int> pending{-1};
    note_pending_exception(s, pending);
    start_service_thread(s, ZR_TEST_JAVA_HOME, variant("throwing"));
    ASSERT_TRUE(start_ended(s));
    EXPECT_EQ(START_THREW, s.start_result);
    EXPECT_EQ(0, pending);

    stop_outcome stop = stop_from_another_thread();
    EXPECT_EQ(STOP_RETURNED, stop.result);
    EXPECT_FALSE(stop.attached_after);
    EXPECT_EQ("", stop.stderr_text);
    finish(s);
    EXPECT_EQ((lines{"start() ended with an exception: java.lang.IllegalStateException: boom",
                     "\tat qo.wyn.zr.NTService.start(NTService.java:6)",
                     "Invoking stop()",
                     "stop() ended with an exception: java.lang.IllegalStateException: refused",
                     "\tat qo.wyn.zr.NTService.stop(NTService.java:10)"}),
              logged(scratch));
}

TEST(JvmHost, WithoutVmNothingIsTouched)
{
    fs::path scratch = enter_scratch(ZR_TEST_SCRATCH);
    EXPECT_EQ(STOP_NO_ATTACH, invoke_stop());
    EXPECT_EQ(START_NO_JVM, invoke_start());
    destroy_jvm();
    EXPECT_FALSE(jvm_exists());
    EXPECT_EQ(nullptr, created_vm());
    EXPECT_EQ((lines{"Invoking stop()", "Cannot invoke stop(): no JVM exists",
                     "Cannot invoke start(): no JVM exists"}),
              logged(scratch));
}

// Creation with a Java home whose VM library is unusable: false, and one line.
static lines create_with_home(const fs::path& scratch, const std::string& home)
{
    EXPECT_FALSE(create_jvm(home.c_str(), variant("returning").c_str()));
    EXPECT_FALSE(jvm_exists());
    return logged(scratch);
}

TEST(JvmLibrary, MissingLibraryIsReported)
{
    fs::path scratch = enter_scratch(ZR_TEST_SCRATCH);
    std::string library = (scratch / "jdk/lib/server/libjvm.so").string();
    EXPECT_EQ(lines{"dlopen('" + library + "') failed: " + library +
                    ": cannot open shared object file: No such file or directory"},
              create_with_home(scratch, (scratch / "jdk").string()));
}

TEST(JvmLibrary, BrokenLibraryIsReported)
{
    fs::path scratch = enter_scratch(ZR_TEST_SCRATCH);
    fs::create_directories(scratch / "jdk/lib/server");
    std::string library = (scratch / "jdk/lib/server/libjvm.so").string();
    write_text(library, std::string(100, 'x'));
    EXPECT_EQ(lines{"dlopen('" + library + "') failed: " + library + ": invalid ELF header"},
              create_with_home(scratch, (scratch / "jdk").string()));
}

TEST(JvmLibrary, LibraryWithoutEntryPointIsReported)
{
    fs::path scratch = enter_scratch(ZR_TEST_SCRATCH);
    fs::create_directories(scratch / "jdk/lib/server");
    std::string library = (scratch / "jdk/lib/server/libjvm.so").string();
    fs::copy_file(ZR_TEST_NO_ENTRY_LIBRARY, library);
    EXPECT_EQ(lines{"dlsym('" + library + "', 'JNI_CreateJavaVM') failed: " + library +
                    ": undefined symbol: JNI_CreateJavaVM"},
              create_with_home(scratch, (scratch / "jdk").string()));
}

TEST(JvmLibrary, LibraryPathMustFitIntoAPath)
{
    fs::path scratch = enter_scratch(ZR_TEST_SCRATCH);
    // "/lib/server/libjvm.so" has 21 characters; a path holds 259.
    std::string fits = "/" + std::string(237, 'j');
    std::string too_long = fits + "j";
    lines log = create_with_home(scratch, fits);
    ASSERT_EQ(1u, log.size());
    EXPECT_EQ(0u, log[0].find("dlopen('" + fits + "/lib/server/libjvm.so') failed: ")) << log[0];
    log = create_with_home(scratch, too_long);
    ASSERT_EQ(2u, log.size());
    EXPECT_EQ("Java home '" + too_long + "' is too long: its VM library path exceeds 259 characters", log[1]);
}
