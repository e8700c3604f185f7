// A stand-in for the Java VM library, built as jvm.dll for the Windows tests.
// It exports JNI_CreateJavaVM, plays one scripted Java service class
// qo/wyn/zr/NTService and records every call a host makes into it.
//
// SCRIPT: the first word of the first line of "jvm-script.txt" in the DLL's
// folder, read at every JNI_CreateJavaVM, picks the variant ("block" when the
// file is missing or empty):
//   block       start() returns only after stop() has been called (from another thread)
//   return      start() returns at once
//   throw       start() throws "java.lang.IllegalStateException: boom",
//               stop() throws "java.lang.IllegalStateException: refused"
//   nostart     no static start() ("java.lang.NoSuchMethodError: static Lqo/wyn/zr/NTService;.start()V")
//   nostop      no static stop() (likewise); start() returns at once
//   noclass     no class ("java.lang.NoClassDefFoundError: qo/wyn/zr/NTService")
//   noattach    AttachCurrentThread returns -1; start() returns at once
//   output      start() writes "double: standard output" to the standard output
//               handle and "double: standard error" to the standard error handle,
//               then returns
//   slowdestroy plays block, and DestroyJavaVM takes 1.5 s, then records "destroyed"
//   createfail  JNI_CreateJavaVM returns -1 and leaves the VM and the env null
//   slowcreate  JNI_CreateJavaVM waits until a file "jvm-go" exists in the
//               DLL's folder (polling, 60 s deadline; on timeout as createfail),
//               then plays block
//   hang        start() never returns; stop() returns at once
//   slowstop    plays block, but stop() returns only once "jvm-go" exists (as slowcreate)
//   exit N      start() calls the host's "exit" option hook with the number N
// An unknown word plays createfail.
//
// RECORD: "jvm-calls.txt" in the DLL's folder. Every event appends one line,
// written and flushed at once (the file is opened, written and closed per
// line, so other processes may read it at any time). A line is fields
// separated by tabs and ends with "\n" alone:
//   <thread id> TAB <event> [TAB <argument>]...
// <thread id> is the decimal Windows thread id of the calling thread. Events:
//   load <DLL path>                          the DLL was loaded (DLL_PROCESS_ATTACH)
//   environment PATH=<value>                 the process's PATH when the VM is created
//   JNI_CreateJavaVM version=0x<8 hex digits> nOptions=<n> ignoreUnrecognized=<0|1>
//                    then for each option i: option<i>=<optionString> extraInfo<i>=<null|set>
//   timeout jvm-go                           slowcreate gave up waiting
//   DestroyJavaVM
//   destroyed                                slowdestroy's DestroyJavaVM has finished
//   AttachCurrentThread args=<null|set>
//   DetachCurrentThread
//   FindClass <name>
//   GetStaticMethodID <name> <signature>
//   CallStaticVoidMethod|CallStaticVoidMethodV <method>   when start() or stop() begins
//                                            (jni.h's C++ wrappers call the ...V form)
//   returned <method>                        when it ends (normally or with an exception)
//   ExceptionOccurred | ExceptionCheck | ExceptionClear
//   GetObjectClass
//   GetMethodID <name> <signature>
//   CallObjectMethod|CallObjectMethodV <method>
//   GetStringUTFChars | ReleaseStringUTFChars
//   unexpected JNIEnv|JavaVM <slot index>    a function of the tables the double does not play
//   violation <event>                        the call just recorded came while an exception was
//                                            pending on its thread (only the three Exception*
//                                            functions are allowed then)
#define _JNI_IMPLEMENTATION_
#include <jni.h>
#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

static char g_folder[MAX_PATH]; // the DLL's folder, with its trailing backslash
static std::mutex g_record_lock;
static char g_variant[32];

static std::mutex g_stop_lock;
static std::condition_variable g_stop_called;
static bool g_stopped = false;

typedef void(JNICALL* exit_hook)(jint code);
static exit_hook g_exit_hook = nullptr; // the host's "exit" option
static int g_exit_code = 0;

// Objects the host only passes back: classes, methods and exceptions.
struct fake_method {
    const char* name;
};
struct fake_throwable {
    char text[200]; // what its toString() returns
};
static int g_service_class, g_throwable_class;
static fake_method g_start{"start"}, g_stop{"stop"}, g_to_string{"toString"};

// The exception pending on a thread; its string is the throwable itself.
// Each throw makes a new one (never freed), so a reference the host holds
// keeps its text when a later call throws again, as in a real VM.
static thread_local fake_throwable* t_thrown = nullptr;
static thread_local bool t_pending = false;

static std::string in_folder(const char* name)
{
    return std::string(g_folder) + name;
}

static void record(std::initializer_list<std::string> fields)
{
    std::string line = std::to_string(GetCurrentThreadId());
    for (const std::string& field : fields)
        line += "\t" + field;
    line += "\n";
    std::lock_guard<std::mutex> hold(g_record_lock);
    HANDLE file = CreateFileA(in_folder("jvm-calls.txt").c_str(), FILE_APPEND_DATA,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(file);
}

// Records a call that JNI forbids while an exception is pending.
static void record_call(std::initializer_list<std::string> fields)
{
    record(fields);
    if (t_pending)
        record({"violation", *fields.begin()});
}

static void throw_java(const std::string& text)
{
    t_thrown = new fake_throwable;
    snprintf(t_thrown->text, sizeof t_thrown->text, "%s", text.c_str());
    t_pending = true;
}

static bool playing(const char* variant)
{
    return strcmp(g_variant, variant) == 0;
}

template <typename T>
static T* as(const void* object)
{
    return reinterpret_cast<T*>(const_cast<void*>(object));
}

// ---- the JNIEnv functions the host uses

static jclass JNICALL find_class(JNIEnv*, const char* name)
{
    record_call({"FindClass", name});
    if (playing("noclass") || strcmp(name, "qo/wyn/zr/NTService") != 0) {
        throw_java(std::string("java.lang.NoClassDefFoundError: ") + name);
        return nullptr;
    }
    return as<_jclass>(&g_service_class);
}

static jmethodID JNICALL get_static_method_id(JNIEnv*, jclass, const char* name, const char* signature)
{
    record_call({"GetStaticMethodID", name, signature});
    bool is_void = strcmp(signature, "()V") == 0;
    if (is_void && strcmp(name, "start") == 0 && !playing("nostart"))
        return as<_jmethodID>(&g_start);
    if (is_void && strcmp(name, "stop") == 0 && !playing("nostop"))
        return as<_jmethodID>(&g_stop);
    throw_java(std::string("java.lang.NoSuchMethodError: static Lqo/wyn/zr/NTService;.") + name + signature);
    return nullptr;
}

static void write_standard_handle(DWORD which, const char* line)
{
    DWORD written = 0;
    WriteFile(GetStdHandle(which), line, static_cast<DWORD>(strlen(line)), &written, nullptr);
}

static void run_start()
{
    if (playing("throw")) {
        throw_java("java.lang.IllegalStateException: boom");
    } else if (playing("output")) {
        // As a VM does, whose C runtime writes to the standard handles the
        // process had when the VM library was loaded.
        write_standard_handle(STD_OUTPUT_HANDLE, "double: standard output\r\n");
        write_standard_handle(STD_ERROR_HANDLE, "double: standard error\r\n");
    } else if (playing("exit") && g_exit_hook != nullptr) {
        g_exit_hook(g_exit_code);
    } else if (playing("block") || playing("slowdestroy") || playing("hang") || playing("slowstop")) {
        std::unique_lock<std::mutex> hold(g_stop_lock);
        g_stop_called.wait(hold, [] { return g_stopped; });
    }
}

static bool wait_for_go_file();

static void run_stop()
{
    if (playing("throw")) {
        throw_java("java.lang.IllegalStateException: refused");
        return;
    }
    if (playing("hang"))
        return;
    {
        std::lock_guard<std::mutex> hold(g_stop_lock);
        g_stopped = true;
        g_stop_called.notify_all();
    }
    if (playing("slowstop"))
        wait_for_go_file();
}

static void call_static_void(const char* function, jmethodID id)
{
    const fake_method* method = as<fake_method>(id);
    record_call({function, method->name});
    if (method == &g_start)
        run_start();
    else if (method == &g_stop)
        run_stop();
    record({"returned", method->name});
}

static void JNICALL call_static_void_method(JNIEnv*, jclass, jmethodID id, ...)
{
    call_static_void("CallStaticVoidMethod", id);
}

static void JNICALL call_static_void_method_v(JNIEnv*, jclass, jmethodID id, va_list)
{
    call_static_void("CallStaticVoidMethodV", id);
}

static jthrowable JNICALL exception_occurred(JNIEnv*)
{
    record({"ExceptionOccurred"});
    return t_pending ? as<_jthrowable>(t_thrown) : nullptr;
}

static jboolean JNICALL exception_check(JNIEnv*)
{
    record({"ExceptionCheck"});
    return t_pending ? JNI_TRUE : JNI_FALSE;
}

static void JNICALL exception_clear(JNIEnv*)
{
    record({"ExceptionClear"});
    t_pending = false;
}

static jclass JNICALL get_object_class(JNIEnv*, jobject)
{
    record_call({"GetObjectClass"});
    return as<_jclass>(&g_throwable_class);
}

static jmethodID JNICALL get_method_id(JNIEnv*, jclass, const char* name, const char* signature)
{
    record_call({"GetMethodID", name, signature});
    if (strcmp(name, "toString") == 0 && strcmp(signature, "()Ljava/lang/String;") == 0)
        return as<_jmethodID>(&g_to_string);
    throw_java(std::string("java.lang.NoSuchMethodError: ") + name);
    return nullptr;
}

// toString() of a throwable: the throwable stands for its text.
static jobject JNICALL call_object_method(JNIEnv*, jobject object, jmethodID id, ...)
{
    record_call({"CallObjectMethod", as<fake_method>(id)->name});
    return object;
}

static jobject JNICALL call_object_method_v(JNIEnv*, jobject object, jmethodID id, va_list)
{
    record_call({"CallObjectMethodV", as<fake_method>(id)->name});
    return object;
}

static const char* JNICALL get_string_utf_chars(JNIEnv*, jstring text, jboolean* is_copy)
{
    record_call({"GetStringUTFChars"});
    if (is_copy != nullptr)
        *is_copy = JNI_FALSE;
    return as<fake_throwable>(text)->text;
}

static void JNICALL release_string_utf_chars(JNIEnv*, jstring, const char*)
{
    record_call({"ReleaseStringUTFChars"});
}

// ---- the JavaVM functions

static jint JNICALL destroy_java_vm(JavaVM*)
{
    record_call({"DestroyJavaVM"});
    if (playing("slowdestroy")) {
        // As a VM whose application's last threads take a while to end.
        Sleep(1500);
        record({"destroyed"});
    }
    return JNI_OK;
}

static JNIEnv g_env;

static jint JNICALL attach_current_thread(JavaVM*, void** env, void* args)
{
    record({"AttachCurrentThread", args == nullptr ? "args=null" : "args=set"});
    if (playing("noattach")) {
        *env = nullptr;
        return JNI_ERR;
    }
    *env = &g_env;
    return JNI_OK;
}

static jint JNICALL detach_current_thread(JavaVM*)
{
    record_call({"DetachCurrentThread"});
    t_pending = false;
    return JNI_OK;
}

// ---- the tables: every slot not played records that it was called

static JNINativeInterface_ g_env_table;
static JNIInvokeInterface_ g_vm_table;
static JavaVM g_vm;

template <size_t N>
static void* JNICALL unexpected_env_slot()
{
    record({"unexpected", "JNIEnv", std::to_string(N)});
    return nullptr;
}

template <size_t N>
static void* JNICALL unexpected_vm_slot()
{
    record({"unexpected", "JavaVM", std::to_string(N)});
    return nullptr;
}

template <size_t... N>
static void fill_env_slots(void** slots, std::index_sequence<N...>)
{
    ((slots[N] = reinterpret_cast<void*>(&unexpected_env_slot<N>)), ...);
}

template <size_t... N>
static void fill_vm_slots(void** slots, std::index_sequence<N...>)
{
    ((slots[N] = reinterpret_cast<void*>(&unexpected_vm_slot<N>)), ...);
}

static void build_tables()
{
    constexpr size_t ENV_SLOTS = sizeof(JNINativeInterface_) / sizeof(void*);
    constexpr size_t VM_SLOTS = sizeof(JNIInvokeInterface_) / sizeof(void*);
    static_assert(ENV_SLOTS * sizeof(void*) == sizeof(JNINativeInterface_), "a table holds pointers only");
    void* env_slots[ENV_SLOTS];
    void* vm_slots[VM_SLOTS];
    fill_env_slots(env_slots, std::make_index_sequence<ENV_SLOTS>{});
    fill_vm_slots(vm_slots, std::make_index_sequence<VM_SLOTS>{});
    memcpy(&g_env_table, env_slots, sizeof env_slots);
    memcpy(&g_vm_table, vm_slots, sizeof vm_slots);

    g_env_table.FindClass = find_class;
    g_env_table.GetStaticMethodID = get_static_method_id;
    g_env_table.CallStaticVoidMethod = call_static_void_method;
    g_env_table.CallStaticVoidMethodV = call_static_void_method_v;
    g_env_table.ExceptionOccurred = exception_occurred;
    g_env_table.ExceptionCheck = exception_check;
    g_env_table.ExceptionClear = exception_clear;
    g_env_table.GetObjectClass = get_object_class;
    g_env_table.GetMethodID = get_method_id;
    g_env_table.CallObjectMethod = call_object_method;
    g_env_table.CallObjectMethodV = call_object_method_v;
    g_env_table.GetStringUTFChars = get_string_utf_chars;
    g_env_table.ReleaseStringUTFChars = release_string_utf_chars;
    g_vm_table.DestroyJavaVM = destroy_java_vm;
    g_vm_table.AttachCurrentThread = attach_current_thread;
    g_vm_table.DetachCurrentThread = detach_current_thread;
    g_env.functions = &g_env_table;
    g_vm.functions = &g_vm_table;
}

// ---- creation

static void read_script()
{
    strcpy(g_variant, "block");
    FILE* script = fopen(in_folder("jvm-script.txt").c_str(), "r");
    if (script == nullptr)
        return;
    char word[sizeof g_variant];
    if (fscanf(script, "%31s %d", word, &g_exit_code) >= 1)
        strcpy(g_variant, word);
    fclose(script);
}

static bool wait_for_go_file()
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (GetFileAttributesA(in_folder("jvm-go").c_str()) == INVALID_FILE_ATTRIBUTES) {
        if (std::chrono::steady_clock::now() > deadline) {
            record({"timeout", "jvm-go"});
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

static void record_creation(const JavaVMInitArgs* args)
{
    char version[32];
    snprintf(version, sizeof version, "version=0x%08x", static_cast<unsigned>(args->version));
    std::string line = std::string("JNI_CreateJavaVM\t") + version + "\tnOptions=" + std::to_string(args->nOptions) +
                       "\tignoreUnrecognized=" + std::to_string(args->ignoreUnrecognized);
    for (jint i = 0; i < args->nOptions; ++i) {
        std::string index = std::to_string(i);
        line += "\toption" + index + "=" + args->options[i].optionString;
        line += "\textraInfo" + index + (args->options[i].extraInfo == nullptr ? "=null" : "=set");
    }
    record({line});
}

extern "C" JNIEXPORT jint JNICALL JNI_CreateJavaVM(JavaVM** vm, void** env, void* args)
{
    char path[8192] = "";
    GetEnvironmentVariableA("PATH", path, sizeof path);
    record({"environment", std::string("PATH=") + path});
    record_creation(static_cast<JavaVMInitArgs*>(args));
    *vm = nullptr;
    *env = nullptr;
    read_script();
    if (playing("slowcreate"))
        strcpy(g_variant, wait_for_go_file() ? "block" : "createfail");
    bool known = false;
    for (const char* variant : {"block", "return", "throw", "nostart", "nostop", "noclass", "noattach", "output",
                                "slowdestroy", "hang", "slowstop", "exit"})
        known = known || playing(variant);
    const JavaVMInitArgs* init = static_cast<JavaVMInitArgs*>(args);
    for (jint i = 0; i < init->nOptions; ++i) {
        if (strcmp(init->options[i].optionString, "exit") == 0)
            g_exit_hook = reinterpret_cast<exit_hook>(init->options[i].extraInfo);
    }
    if (!known)
        return JNI_ERR;
    g_stopped = false;
    *vm = &g_vm;
    *env = &g_env;
    return JNI_OK;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        char path[MAX_PATH] = "";
        GetModuleFileNameA(instance, path, sizeof path);
        strcpy(g_folder, path);
        char* last = strrchr(g_folder, '\\');
        if (last != nullptr)
            last[1] = '\0';
        build_tables();
        record({"load", path});
    }
    return TRUE;
}
