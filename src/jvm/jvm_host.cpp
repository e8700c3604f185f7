#include "jvm/jvm_host.h"

#include "jvm/exception_text.h"
#include "jvm/vm_hooks.h"
#include "jvm/vm_library.h"
#include "log/log.h"

#include <atomic>
#include <cstdio>

static const char SERVICE_CLASS[] = "qo/wyn/zr/NTService";

// The one VM of the process.
struct hosted_vm {
    // The entry point of the VM library, bound by the first creation.
    create_vm_function create = nullptr;
    // Set once by the creation, before the stop control is accepted; read by
    // the control path while start() runs; cleared by the destruction.
    std::atomic<JavaVM*> vm{nullptr};
    // The environment of the thread that created the VM; only that thread
    // uses it.
    JNIEnv* env = nullptr;
};
static hosted_vm g_host;

bool create_jvm(const jvm_launch& launch)
{
    if (g_host.create == nullptr && (g_host.create = bind_vm_library(launch.java_home.c_str())) == nullptr)
        return false;
    std::vector<JavaVMOption> vm_options(VM_HOOK_OPTIONS + launch.options.size());
    put_vm_hooks(vm_options.data());
    for (size_t i = 0; i < launch.options.size(); ++i) {
        vm_options[VM_HOOK_OPTIONS + i].optionString = const_cast<char*>(launch.options[i].c_str());
        vm_options[VM_HOOK_OPTIONS + i].extraInfo = nullptr;
    }
    JavaVMInitArgs args;
    args.version = JNI_VERSION_1_2;
    args.nOptions = static_cast<jint>(vm_options.size());
    args.options = vm_options.data();
    args.ignoreUnrecognized = JNI_FALSE;
    JavaVM* vm = nullptr;
    JNIEnv* env = nullptr;
    capture_early_vm_text();
    jint result = g_host.create(&vm, reinterpret_cast<void**>(&env), &args);
    flush_vm_text();
    if (env == nullptr) {
        log_format("JNI_CreateJavaVM failed: %d", static_cast<int>(result));
        return false;
    }
    g_host.env = env;
    g_host.vm.store(vm);
    vm_hooks_created();
    return true;
}

// True when the exception pending on env's thread says that the service
// class itself cannot be used: a LinkageError (NoClassDefFoundError,
// NoSuchMethodError, a class file of a later Java) other than an
// ExceptionInInitializerError, which is the application's own failure. The
// exception stays pending.
static bool lookup_failed(JNIEnv* env)
{
    jthrowable thrown = env->ExceptionOccurred();
    if (thrown == nullptr)
        return true;
    env->ExceptionClear();
    jclass linkage = env->FindClass("java/lang/LinkageError");
    jclass initializer = linkage ? env->FindClass("java/lang/ExceptionInInitializerError") : nullptr;
    bool failed = initializer == nullptr ||
                  (env->IsInstanceOf(thrown, linkage) && !env->IsInstanceOf(thrown, initializer));
    env->ExceptionClear();
    env->Throw(thrown);
    return failed;
}

// Calls the service class's static method name "()V" through env. A missing
// class or method is logged (the method's as "Cannot find <name>() method"),
// an exception the method, or the class's static initializer that its lookup
// runs, ends with is logged behind "<name>() ended with an exception: ";
// every exception is cleared. Returns START_RETURNED, START_THREW,
// START_NO_CLASS or START_NO_METHOD.
static int call_service_method(JNIEnv* env, const char* name)
{
    static const char LOOKUP_FAILED[] = "Lookup ended with an exception: ";
    char prefix[64];
    snprintf(prefix, sizeof prefix, "%s() ended with an exception: ", name);
    jclass service = env->FindClass(SERVICE_CLASS);
    jmethodID method = service ? env->GetStaticMethodID(service, name, "()V") : nullptr;
    if (method == nullptr && !lookup_failed(env))
        return clear_exception(env, prefix) ? START_THREW : START_RETURNED;
    if (service == nullptr) {
        log_format("Cannot find main class %s", SERVICE_CLASS);
        clear_exception(env, LOOKUP_FAILED);
        return START_NO_CLASS;
    }
    if (method == nullptr) {
        log_format("Cannot find %s() method", name);
        clear_exception(env, LOOKUP_FAILED);
        return START_NO_METHOD;
    }
    env->CallStaticVoidMethod(service, method);
    return clear_exception(env, prefix) ? START_THREW : START_RETURNED;
}

int invoke_start()
{
    return call_service_method(g_host.env, "start");
}

bool invoke_stop()
{
    log_line("Invoking stop()");
    JavaVM* vm = g_host.vm.load();
    JNIEnv* env = nullptr;
    if (vm == nullptr || vm->AttachCurrentThread(reinterpret_cast<void**>(&env), nullptr) < 0) {
        log_line("Cannot attach current thread to JVM");
        return false;
    }
    int result = call_service_method(env, "stop");
    vm->DetachCurrentThread();
    return result == START_RETURNED;
}

bool destroy_jvm()
{
    JavaVM* vm = g_host.vm.exchange(nullptr);
    if (vm == nullptr)
        return false;
    g_host.env = nullptr;
    vm_hooks_destroying();
    jint result = vm->DestroyJavaVM();
    flush_vm_text();
    if (result != JNI_OK)
        log_format("DestroyJavaVM failed: %d", static_cast<int>(result));
    return result == JNI_OK;
}
