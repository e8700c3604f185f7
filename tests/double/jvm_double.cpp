// A stand-in for the Java VM library, built as jvm.dll for the Windows tests.
// It plays a scripted Java service class qo/wyn/zr/NTService and records the
// calls a host makes into it, one line each in "jvm-calls.txt" beside it:
// <thread id> TAB <event> [TAB <argument>]...
//
// "jvm-script.txt" beside it, read at creation: its first word is the variant
// ("block" when missing); a second line may name the service whose state
// stop() records as "status <state>".
//   block       start() returns only after stop() has been called
//   return      start() returns at once
//   output      start() writes a line to each standard handle, then passes the
//               host's "vfprintf" option hook a line for its C runtime's
//               stdout and stderr and for a file "jvm-hook-file.txt" beside
//               it, then returns
//   slowdestroy N  plays block; DestroyJavaVM takes N seconds, then records
//               "destroyed"
//   slowcreate  the creation waits for a file "jvm-go" beside it (60 s at most),
//               then plays block
//   hang        start() never returns; stop() returns at once
//   slowstop    plays block, but stop() returns only once "jvm-go" exists
//   exit N      start() calls the host's "exit" option hook with the number N
//   chatty N    start() writes N numbered lines of 100 bytes, "double: line
//               000000 xxx...", in turn through its C runtime's stdout, through
//               the host's "vfprintf" hook for its stdout, and to the standard
//               error handle, each at once (so that they arrive in order);
//               then "double: last words" without a line end, and returns
//   chattyexit N  plays chatty, then calls the host's "exit" option hook with 0
//   chattywait N  plays chatty in three rounds of N lines, numbered on: after
//               the first it waits for a file "jvm-go" beside it, after the
//               second for "jvm-go2" (60 s at most each)
//   chattyabort N plays chatty, then crashes as a VM does after printing its
//               report: calls the host's "abort" option hook, then ends the
//               process with 134
//   fail        the creation writes a line to its C runtime's stderr, as a VM
//               does before its hook is in force, and fails (JNI_ERR)
//   notok       the creation gives a VM and an environment, yet returns
//               JNI_EEXIST
//   giveup      start() returns at once; DestroyJavaVM, once it has written
//               the class archive, gives up as the VM does on a full disk:
//               on a thread of its own it calls the host's "abort" option
//               hook, then ends the process with 1
//   decoy       the creation loads "jvm-decoy.dll" by its bare name, as a VM
//               loads libraries of its own, and records "decoy" and whether it
//               loaded; then plays return
//   ctrlc       the creation puts a console handler of its own first that
//               ends the process with 130, as a VM's does; start() raises
//               Ctrl+C in a console of its own, then plays block
// The creation also records "stack" and the size of its thread's stack.
// JNI_GetDefaultJavaVMInitArgs gives a default stack size of 1536 KiB, as
// a VM gives its own.
// Given -XX:ArchiveClassesAtExit=FILE, DestroyJavaVM writes FILE, as the VM
// writes its class archive there.
// Built twice: against msvcrt, and as ucrt/jvm.dll against the universal C
// runtime, whose standard streams a real VM prints with.
#define _JNI_IMPLEMENTATION_
#define _WIN32_WINNT 0x0602 // GetCurrentThreadStackLimits
#include <jni.h>
#include <windows.h>

#include "jvm/vm_stack.h" // the JNI 1.1 arguments

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <mutex>
#include <string>
#include <thread>

static std::string g_folder; // the DLL's folder, with its trailing backslash
static std::mutex g_record_lock;
static std::string g_variant, g_service_name;
static std::mutex g_stop_lock;
static std::condition_variable g_stop_called;
static bool g_stopped = false;

typedef void(JNICALL* exit_hook)(jint code);
static exit_hook g_exit_hook = nullptr; // the host's "exit" option
typedef void(JNICALL* abort_hook)();
static abort_hook g_abort_hook = nullptr; // the host's "abort" option
typedef jint(JNICALL* vfprintf_hook)(FILE* stream, const char* format, va_list arguments);
static vfprintf_hook g_vfprintf_hook = nullptr; // the host's "vfprintf" option
static int g_exit_code = 0;
static std::string g_archive_at_exit; // the file of -XX:ArchiveClassesAtExit=

// Objects the host only passes back. No method throws.
struct fake_method {
    const char* name;
};
static int g_service_class;
static fake_method g_start{"start"}, g_stop{"stop"};

static void record(std::initializer_list<std::string> fields)
{
    std::string line = std::to_string(GetCurrentThreadId());
    for (const std::string& field : fields)
        line += "\t" + field;
    std::lock_guard<std::mutex> hold(g_record_lock);
    if (FILE* file = fopen((g_folder + "jvm-calls.txt").c_str(), "ab")) {
        fprintf(file, "%s\n", line.c_str());
        fclose(file);
    }
}

template <typename T>
static T pass(const void* object)
{
    return reinterpret_cast<T>(const_cast<void*>(object));
}

static void write_standard_handle(DWORD which, const char* line)
{
    DWORD written = 0;
    WriteFile(GetStdHandle(which), line, static_cast<DWORD>(strlen(line)), &written, nullptr);
}

// As a VM prints: through its hook, with a stream of its own C runtime.
static void print_through_host(FILE* stream, const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    g_vfprintf_hook(stream, format, arguments);
    va_end(arguments);
}

static bool wait_for_go_file(const char* name = "jvm-go");

// Lines numbered from first, g_exit_code of them.
static void print_numbered_lines(int first)
{
    const std::string filler(80, 'x');
    for (int number = first; number < first + g_exit_code; ++number) {
        char line[128];
        snprintf(line, sizeof line, "double: line %06d %s", number, filler.c_str());
        if (number % 3 == 0) {
            fprintf(stdout, "%s\n", line);
            fflush(stdout);
        } else if (number % 3 == 1) {
            print_through_host(stdout, "%s\n", line);
        } else {
            write_standard_handle(STD_ERROR_HANDLE, (std::string(line) + "\r\n").c_str());
        }
    }
}

static void print_lines()
{
    print_numbered_lines(0);
    if (g_variant == "chattywait") {
        wait_for_go_file();
        print_numbered_lines(g_exit_code);
        wait_for_go_file("jvm-go2");
        print_numbered_lines(2 * g_exit_code);
    }
    fputs("double: last words", stdout);
    fflush(stdout);
}

static void run_start()
{
    if (g_variant == "output") {
        // As a VM does, whose C runtime writes to the process's standard handles.
        write_standard_handle(STD_OUTPUT_HANDLE, "double: standard output\r\n");
        write_standard_handle(STD_ERROR_HANDLE, "double: standard error\r\n");
        print_through_host(stdout, "double: to %s %d\n", "standard output", 1);
        print_through_host(stderr, "double: to %s %d\n", "standard error", 2);
        if (FILE* file = fopen((g_folder + "jvm-hook-file.txt").c_str(), "w")) {
            print_through_host(file, "double: to %s %d\n", "its file", 3);
            fclose(file);
        }
    } else if (g_variant.compare(0, 6, "chatty") == 0) {
        print_lines();
        if (g_variant == "chattyexit")
            g_exit_hook(0);
        if (g_variant == "chattyabort") {
            g_abort_hook();
            ExitProcess(134);
        }
    } else if (g_variant == "exit" && g_exit_hook != nullptr) {
        g_exit_hook(g_exit_code);
    } else if (g_variant == "block" || g_variant == "slowdestroy" || g_variant == "hang" || g_variant == "slowstop" ||
               g_variant == "ctrlc") {
        if (g_variant == "ctrlc") {
            // Wine gives a process started from Unix a console that takes no
            // events; one of its own takes them.
            FreeConsole();
            AllocConsole();
            if (!GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0))
                record({"GenerateConsoleCtrlEvent", "failed", std::to_string(GetLastError())});
        }
        std::unique_lock<std::mutex> hold(g_stop_lock);
        g_stop_called.wait(hold, [] { return g_stopped; });
    }
}


// Records the state the SCM shows for the scripted service, then lets start()
// return (hang: never).
static void run_stop()
{
    SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = scm ? OpenServiceA(scm, g_service_name.c_str(), SERVICE_QUERY_STATUS) : nullptr;
    SERVICE_STATUS status = {};
    if (service != nullptr && QueryServiceStatus(service, &status))
        record({"status", std::to_string(status.dwCurrentState)});
    CloseServiceHandle(service);
    CloseServiceHandle(scm);
    if (g_variant == "hang")
        return;
    {
        std::lock_guard<std::mutex> hold(g_stop_lock);
        g_stopped = true;
        g_stop_called.notify_all();
    }
    if (g_variant == "slowstop")
        wait_for_go_file();
}

// The functions the host uses; every other slot stays null, so that a host
// calling one crashes and the test that made it do so fails.
static JNINativeInterface_ g_env_table;
static JNIInvokeInterface_ g_vm_table;
static JNIEnv g_env;
static JavaVM g_vm;

static void build_tables()
{
    g_env_table.FindClass = [](JNIEnv*, const char* name) -> jclass {
        record({"FindClass", name});
        return pass<jclass>(&g_service_class);
    };
    g_env_table.GetStaticMethodID = [](JNIEnv*, jclass, const char* name, const char* signature) -> jmethodID {
        record({"GetStaticMethodID", name, signature});
        return pass<jmethodID>(strcmp(name, "start") == 0 ? &g_start : &g_stop);
    };
    g_env_table.CallStaticVoidMethodV = [](JNIEnv*, jclass, jmethodID id, va_list) {
        const fake_method* method = pass<const fake_method*>(id);
        record({"CallStaticVoidMethodV", method->name});
        method == &g_start ? run_start() : run_stop();
        record({"returned", method->name});
    };
    g_env_table.ExceptionOccurred = [](JNIEnv*) -> jthrowable {
        record({"ExceptionOccurred"});
        return nullptr;
    };
    g_vm_table.DestroyJavaVM = [](JavaVM*) -> jint {
        record({"DestroyJavaVM"});
        if (!g_archive_at_exit.empty())
            if (FILE* file = fopen(g_archive_at_exit.c_str(), "wb")) {
                fwrite("double: class archive\n", 1, 22, file);
                fclose(file);
            }
        if (g_variant == "giveup")
            std::thread([] {
                g_abort_hook();
                ExitProcess(1);
            }).join();
        if (g_variant == "slowdestroy") {
            // As a VM whose application's last threads take a while to end.
            Sleep(static_cast<DWORD>(g_exit_code) * 1000);
            record({"destroyed"});
        }
        return JNI_OK;
    };
    g_vm_table.AttachCurrentThread = [](JavaVM*, void** env, void* args) -> jint {
        record({"AttachCurrentThread", args == nullptr ? "args=null" : "args=set"});
        *env = &g_env;
        return JNI_OK;
    };
    g_vm_table.DetachCurrentThread = [](JavaVM*) -> jint {
        record({"DetachCurrentThread"});
        return JNI_OK;
    };
    g_env.functions = &g_env_table;
    g_vm.functions = &g_vm_table;
}

static void read_script()
{
    g_variant = "block";
    g_service_name.clear();
    char line[256], word[32];
    if (FILE* script = fopen((g_folder + "jvm-script.txt").c_str(), "r")) {
        if (fgets(line, sizeof line, script) != nullptr && sscanf(line, "%31s %d", word, &g_exit_code) >= 1)
            g_variant = word;
        if (fgets(line, sizeof line, script) != nullptr)
            g_service_name = std::string(line, strcspn(line, "\r\n"));
        fclose(script);
    }
}

static bool wait_for_go_file(const char* name)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (GetFileAttributesA((g_folder + name).c_str()) == INVALID_FILE_ATTRIBUTES) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}


extern "C" JNIEXPORT jint JNICALL JNI_GetDefaultJavaVMInitArgs(void* arguments)
{
    jdk_1_1_init_args* args = static_cast<jdk_1_1_init_args*>(arguments);
    record({"JNI_GetDefaultJavaVMInitArgs", "version=" + std::to_string(args->version)});
    if (args->version != JNI_VERSION_1_1)
        return JNI_OK;
    args->version = JNI_VERSION_1_2;
    args->java_stack_size = 1536 * 1024;
    return JNI_OK;
}

static std::string stack_size()
{
    ULONG_PTR low = 0, high = 0;
    GetCurrentThreadStackLimits(&low, &high);
    return std::to_string(high - low);
}

extern "C" JNIEXPORT jint JNICALL JNI_CreateJavaVM(JavaVM** vm, void** env, void* arguments)
{
    char path[8192] = "";
    GetEnvironmentVariableA("PATH", path, sizeof path);
    record({"environment", std::string("PATH=") + path});
    const JavaVMInitArgs* args = static_cast<JavaVMInitArgs*>(arguments);
    char version[32];
    snprintf(version, sizeof version, "version=0x%08x", static_cast<unsigned>(args->version));
    std::string line = std::string("JNI_CreateJavaVM\t") + version + "\tnOptions=" + std::to_string(args->nOptions) +
                       "\tignoreUnrecognized=" + std::to_string(args->ignoreUnrecognized);
    for (jint i = 0; i < args->nOptions; ++i) {
        line += "\toption" + std::to_string(i) + "=" + args->options[i].optionString;
        line += "\textraInfo" + std::to_string(i) + (args->options[i].extraInfo == nullptr ? "=null" : "=set");
        if (strcmp(args->options[i].optionString, "exit") == 0)
            g_exit_hook = reinterpret_cast<exit_hook>(args->options[i].extraInfo);
        if (strcmp(args->options[i].optionString, "abort") == 0)
            g_abort_hook = reinterpret_cast<abort_hook>(args->options[i].extraInfo);
        if (strcmp(args->options[i].optionString, "vfprintf") == 0)
            g_vfprintf_hook = reinterpret_cast<vfprintf_hook>(args->options[i].extraInfo);
        static const char ARCHIVE_AT_EXIT[] = "-XX:ArchiveClassesAtExit=";
        if (strncmp(args->options[i].optionString, ARCHIVE_AT_EXIT, sizeof ARCHIVE_AT_EXIT - 1) == 0)
            g_archive_at_exit = args->options[i].optionString + sizeof ARCHIVE_AT_EXIT - 1;
    }
    record({line});
    record({"stack", stack_size()});
    read_script();
    if (g_variant == "slowcreate" && wait_for_go_file())
        g_variant = "block";
    if (g_variant == "decoy") {
        HMODULE decoy = LoadLibraryA("jvm-decoy.dll");
        record({"decoy", decoy != nullptr ? "loaded" : "failed " + std::to_string(GetLastError())});
        g_variant = "return";
    }
    if (g_variant == "ctrlc")
        SetConsoleCtrlHandler([](DWORD) -> BOOL { ExitProcess(130); }, TRUE);
    if (g_variant == "fail") {
        fprintf(stderr, "double: Could not open options file '%s'\n", "x");
        fflush(stderr);
        *vm = nullptr;
        *env = nullptr;
        return JNI_ERR;
    }
    *vm = &g_vm;
    *env = &g_env;
    return g_variant == "notok" ? JNI_EEXIST : JNI_OK;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        char path[MAX_PATH] = "";
        GetModuleFileNameA(instance, path, sizeof path);
        g_folder = std::string(path, strrchr(path, '\\') + 1);
        build_tables();
        record({"load", path});
    }
    return TRUE;
}
