#include "jvm/jvm_host.h"

#include "log/log.h"
#include "platform/os_library.h"
#include "platform/os_process.h"
#include "text/bounded_text.h"

#include <jni.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <mutex>

typedef jint(JNICALL* create_vm_function)(JavaVM** vm, void** env, void* args);

static const char SERVICE_CLASS[] = "qo/wyn/zr/NTService";
static const char NO_SERVICE_CLASS[] = "Cannot find main class qo/wyn/zr/NTService";

// The entry point of the VM library, bound by the first creation.
static create_vm_function g_create_vm = nullptr;

// Set once by the creation, before the stop control is accepted; read by the
// control path while start() runs; cleared by the destruction.
static std::atomic<JavaVM*> g_vm{nullptr};

// The environment of the thread that created the VM; only that thread uses it.
static JNIEnv* g_env = nullptr;

// Set before the creation; called by the VM's exit and abort hooks, on
// whatever thread the VM ends the process from.
static std::atomic<vm_exit_handler> g_exit_handler{nullptr};

// True from the creation's successful return on, for the hooks to tell an
// end during the creation from a later one.
static std::atomic<bool> g_created{false};

// The VM prints from any of its threads, a message often in several pieces;
// the unfinished line waits in g_vm_line for its end. Guarded by
// g_vm_text_lock, like the buffer each piece is formatted into.
static std::mutex g_vm_text_lock;
static char g_vm_text[LONG_TEXT_CAPACITY];
static char g_vm_line[LONG_TEXT_CAPACITY];
static size_t g_vm_line_length = 0;

// Logs the parts as one line, composed in a buffer of this call's own. A line
// that does not fit is logged empty, as log_format does.
static void log_parts(std::initializer_list<const char*> parts)
{
    char line[LONG_TEXT_CAPACITY] = "";
    append_pieces(line, sizeof line, parts);
    log_line(line);
}

static void log_number(const char* text, long number)
{
    char digits[24];
    snprintf(digits, sizeof digits, "%ld", number);
    log_parts({text, digits});
}

// Loads the VM library below the Java home and resolves its entry point.
// Returns 0, or -1 after logging why it cannot be used.
static int bind_vm_library(const char* java_home)
{
    char path[PATH_CAPACITY] = "";
    if (bounded_copy(path, sizeof path, java_home) != 0 || bounded_append(path, sizeof path, OS_JVM_LIBRARY) != 0) {
        char limit[24];
        snprintf(limit, sizeof limit, "%d", PATH_CAPACITY - 1);
        log_parts({"Java home '", java_home, "' is too long: its VM library path exceeds ", limit, " characters"});
        return -1;
    }
    // A relative Java home would be looked up from the current directory,
    // the instance folder, which the application writes to.
    if (!os_path_is_absolute(path)) {
        log_parts({"Java home '", java_home, "' is not an absolute path: the VM library is not loaded from it"});
        return -1;
    }
    os_use_native_separators(path);
    char reason[2 * PATH_CAPACITY];
    void* library = os_load_library(path);
    if (library == nullptr) {
        os_library_error(reason, sizeof reason);
        log_parts({OS_LOAD_LIBRARY_CALL, "('", path, "') failed: ", reason});
        return -1;
    }
    void* entry = os_find_symbol(library, "JNI_CreateJavaVM");
    if (entry == nullptr) {
        os_library_error(reason, sizeof reason);
        log_parts({OS_FIND_SYMBOL_CALL, "('", path, "', 'JNI_CreateJavaVM') failed: ", reason});
        return -1;
    }
    g_create_vm = reinterpret_cast<create_vm_function>(entry);
    return 0;
}

// Logs the unfinished line of the VM's output, if any. The caller holds
// g_vm_text_lock.
static void end_vm_line()
{
    if (g_vm_line_length == 0)
        return;
    g_vm_line[g_vm_line_length] = '\0';
    g_vm_line_length = 0;
    log_line(g_vm_line);
}

// Adds a piece of the VM's output: every line it ends becomes a log line
// (empty ones are left out), and a line longer than a log line goes on in
// the next. The caller holds g_vm_text_lock.
static void take_vm_text(const char* text)
{
    for (; *text != '\0'; ++text) {
        if (*text == '\n' || *text == '\r') {
            end_vm_line();
            continue;
        }
        if (g_vm_line_length == sizeof g_vm_line - 1)
            end_vm_line();
        g_vm_line[g_vm_line_length++] = *text;
    }
}

static void flush_vm_text()
{
    std::lock_guard<std::mutex> hold(g_vm_text_lock);
    end_vm_line();
}

// The VM's vfprintf hook: what the VM prints goes to standard error whole
// and into the log. Returns the length of the text, or a negative number
// when it cannot be formatted.
static jint JNICALL print_vm_text(FILE*, const char* format, va_list arguments)
{
    std::lock_guard<std::mutex> hold(g_vm_text_lock);
    va_list copy;
    va_copy(copy, arguments);
    int length = vsnprintf(g_vm_text, sizeof g_vm_text, format, copy);
    va_end(copy);
    // The stream is one of the VM's C runtime, which need not be this
    // program's: standard error stands for both of the VM's streams.
    vfprintf(stderr, format, arguments);
    if (length < 0)
        return length;
    take_vm_text(g_vm_text);
    if (length >= static_cast<int>(sizeof g_vm_text)) {
        end_vm_line();
        log_number("The VM's message above is cut short; its length: ", length);
    }
    return length;
}

// The VM's exit hook: the VM is about to end the process with code, for the
// application called System.exit() or the VM gave up. Does not return.
static void JNICALL vm_exits(jint code)
{
    flush_vm_text();
    vm_exit_handler handler = g_exit_handler.load();
    if (handler != nullptr)
        handler(code, g_created.load());
    exit(code);
}

// The VM's abort hook: the VM gives up during its creation (a heap too
// small, say), or aborts later on a fatal error. The first goes to the exit
// handler; after the second the VM ends the process its own way (with a
// core dump where configured).
static void JNICALL vm_aborts()
{
    flush_vm_text();
    vm_exit_handler handler = g_exit_handler.load();
    if (handler != nullptr && !g_created.load())
        handler(1, false);
    log_line("The Java VM aborted the process");
}

void on_vm_exit(vm_exit_handler handler)
{
    g_exit_handler.store(handler);
}

enum { HOOK_OPTIONS = 3 };

// The VM's hooks as creation options. They come before every other option,
// so that the VM's messages about those options reach the log as well.
static void put_hook_options(JavaVMOption* options)
{
    options[0].optionString = const_cast<char*>("vfprintf");
    options[0].extraInfo = reinterpret_cast<void*>(print_vm_text);
    options[1].optionString = const_cast<char*>("exit");
    options[1].extraInfo = reinterpret_cast<void*>(vm_exits);
    options[2].optionString = const_cast<char*>("abort");
    options[2].extraInfo = reinterpret_cast<void*>(vm_aborts);
}

bool create_jvm(const char* java_home, const char* const* options, int count)
{
    if (count < 0 || count > CREATE_JVM_MOST_OPTIONS) {
        log_number("Too many JVM options: ", count);
        return false;
    }
    if (g_create_vm == nullptr && bind_vm_library(java_home) != 0)
        return false;
    JavaVMOption vm_options[HOOK_OPTIONS + CREATE_JVM_MOST_OPTIONS];
    put_hook_options(vm_options);
    for (int i = 0; i < count; ++i) {
        vm_options[HOOK_OPTIONS + i].optionString = const_cast<char*>(options[i]);
        vm_options[HOOK_OPTIONS + i].extraInfo = nullptr;
    }
    JavaVMInitArgs args;
    args.version = JNI_VERSION_1_2;
    args.nOptions = HOOK_OPTIONS + count;
    args.options = vm_options;
    args.ignoreUnrecognized = JNI_FALSE;
    JavaVM* vm = nullptr;
    JNIEnv* env = nullptr;
    jint result = g_create_vm(&vm, reinterpret_cast<void**>(&env), &args);
    flush_vm_text();
    if (env == nullptr) {
        log_number("JNI_CreateJavaVM failed: ", result);
        return false;
    }
    g_env = env;
    g_vm.store(vm);
    g_created.store(true);
    return true;
}

// What printStackTrace writes for the exception: its text, its frames and its
// causes. Null when that cannot be had; an exception may then be pending.
static jstring stack_trace_text(JNIEnv* env, jthrowable thrown)
{
    jclass writer_class = env->FindClass("java/io/StringWriter");
    jmethodID writer_init = writer_class ? env->GetMethodID(writer_class, "<init>", "()V") : nullptr;
    jobject writer = writer_init ? env->NewObject(writer_class, writer_init) : nullptr;
    jclass printer_class = writer ? env->FindClass("java/io/PrintWriter") : nullptr;
    jmethodID printer_init = printer_class ? env->GetMethodID(printer_class, "<init>", "(Ljava/io/Writer;)V") : nullptr;
    jobject printer = printer_init ? env->NewObject(printer_class, printer_init, writer) : nullptr;
    jmethodID print = printer ? env->GetMethodID(env->GetObjectClass(thrown), "printStackTrace",
                                                 "(Ljava/io/PrintWriter;)V")
                              : nullptr;
    if (print == nullptr)
        return nullptr;
    env->CallVoidMethod(thrown, print, printer);
    jmethodID to_string = env->ExceptionCheck() ? nullptr
                                                : env->GetMethodID(writer_class, "toString", "()Ljava/lang/String;");
    jobject text = to_string ? env->CallObjectMethod(writer, to_string) : nullptr;
    return env->ExceptionCheck() ? nullptr : static_cast<jstring>(text);
}

// The exception's toString(), or null; an exception may then be pending.
static jstring short_text(JNIEnv* env, jthrowable thrown)
{
    jmethodID to_string = env->GetMethodID(env->GetObjectClass(thrown), "toString", "()Ljava/lang/String;");
    jobject text = to_string ? env->CallObjectMethod(thrown, to_string) : nullptr;
    return env->ExceptionCheck() ? nullptr : static_cast<jstring>(text);
}

enum { MOST_TRACE_LINES = 60 };

static const char CUT_MARK[] = "...";

// Copies the length characters of text into line (capacity LONG_TEXT_CAPACITY)
// so that they fit behind a lead of lead_length characters in one log
// message; a text too long keeps its first part, up to a whole character,
// and ends in "..." where it was cut.
static void copy_java_line(char* line, const char* text, size_t length, size_t lead_length)
{
    size_t room = LONG_TEXT_CAPACITY - 1 - lead_length;
    bool cut = length > room;
    if (cut) {
        length = room - (sizeof CUT_MARK - 1);
        // Not inside a character's UTF-8 sequence.
        while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80)
            --length;
    }
    memcpy(line, text, length);
    line[length] = '\0';
    if (cut)
        strcat(line, CUT_MARK);
}

// Logs a Java text line by line, the first behind the prefix; at most
// MOST_TRACE_LINES lines, then how many more there were. A line too long for
// a log message is cut, never dropped: an exception's type comes first.
static void log_java_lines(const char* prefix, const char* text)
{
    char line[LONG_TEXT_CAPACITY];
    int count = 0;
    for (const char* at = text; *at != '\0';) {
        const char* end = strchr(at, '\n');
        size_t length = end != nullptr ? static_cast<size_t>(end - at) : strlen(at);
        if (length > 0 && at[length - 1] == '\r')
            --length;
        if (length > 0 && ++count <= MOST_TRACE_LINES) {
            const char* lead = count == 1 ? prefix : "";
            copy_java_line(line, at, length, strlen(lead));
            log_parts({lead, line});
        }
        at = end != nullptr ? end + 1 : at + strlen(at);
    }
    if (count > MOST_TRACE_LINES)
        log_number("... lines of the trace left out: ", count - MOST_TRACE_LINES);
}

// Clears the exception pending on the thread of env, if any, and logs the
// prefix followed by the exception's stack trace (or, when that cannot be
// had, its toString()). Everything the description itself raises is cleared
// as well. Returns true when one was pending.
static bool clear_exception(JNIEnv* env, const char* prefix)
{
    jthrowable thrown = env->ExceptionOccurred();
    if (thrown == nullptr)
        return false;
    env->ExceptionClear();
    jstring text = stack_trace_text(env, thrown);
    if (text == nullptr) {
        env->ExceptionClear();
        text = short_text(env, thrown);
    }
    const char* chars = nullptr;
    if (text != nullptr)
        chars = env->GetStringUTFChars(text, nullptr);
    env->ExceptionClear();
    log_java_lines(prefix, chars != nullptr ? chars : "(its text is not available)");
    if (chars != nullptr)
        env->ReleaseStringUTFChars(text, chars);
    // The local references go with the thread's detachment or the VM's end.
    return true;
}

enum call_outcome { CALL_RETURNED, CALL_THREW, CALL_NO_CLASS, CALL_NO_METHOD };

// Calls the service class's static method name "()V" through env. A missing
// class or method is logged (the method's with missing_line), an exception
// the method ends with is logged behind exception_prefix; every exception is
// cleared.
static call_outcome call_service_method(JNIEnv* env, const char* name, const char* missing_line,
                                        const char* exception_prefix)
{
    jclass service = env->FindClass(SERVICE_CLASS);
    if (service == nullptr) {
        log_line(NO_SERVICE_CLASS);
        clear_exception(env, "Lookup ended with an exception: ");
        return CALL_NO_CLASS;
    }
    jmethodID method = env->GetStaticMethodID(service, name, "()V");
    if (method == nullptr) {
        log_line(missing_line);
        clear_exception(env, "Lookup ended with an exception: ");
        return CALL_NO_METHOD;
    }
    env->CallStaticVoidMethod(service, method);
    return clear_exception(env, exception_prefix) ? CALL_THREW : CALL_RETURNED;
}

int invoke_start()
{
    JNIEnv* env = g_env;
    if (env == nullptr) {
        log_line("Cannot invoke start(): no JVM exists");
        return START_NO_JVM;
    }
    switch (call_service_method(env, "start", "Cannot find start() method", "start() ended with an exception: ")) {
    case CALL_NO_CLASS:
        return START_NO_CLASS;
    case CALL_NO_METHOD:
        return START_NO_METHOD;
    case CALL_THREW:
        return START_THREW;
    default:
        return START_RETURNED;
    }
}

// Calls stop() through the environment of the attached calling thread; an
// exception it ends with is logged, and counts as a return.
static int call_stop(JNIEnv* env)
{
    switch (call_service_method(env, "stop", "Cannot find stop() method", "stop() ended with an exception: ")) {
    case CALL_NO_CLASS:
        return STOP_NO_CLASS;
    case CALL_NO_METHOD:
        return STOP_NO_METHOD;
    default:
        return STOP_RETURNED;
    }
}

int invoke_stop()
{
    log_line("Invoking stop()");
    JavaVM* vm = g_vm.load();
    if (vm == nullptr) {
        log_line("Cannot invoke stop(): no JVM exists");
        return STOP_NO_ATTACH;
    }
    JNIEnv* env = nullptr;
    if (vm->AttachCurrentThread(reinterpret_cast<void**>(&env), nullptr) < 0) {
        log_line("Cannot attach current thread to JVM");
        return STOP_NO_ATTACH;
    }
    int result = call_stop(env);
    vm->DetachCurrentThread();
    return result;
}

bool jvm_exists()
{
    return g_vm.load() != nullptr;
}

void destroy_jvm()
{
    JavaVM* vm = g_vm.exchange(nullptr);
    if (vm == nullptr)
        return;
    g_env = nullptr;
    jint result = vm->DestroyJavaVM();
    flush_vm_text();
    if (result != JNI_OK)
        log_number("DestroyJavaVM failed: ", result);
}
