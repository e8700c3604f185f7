#include "jvm/jvm_host.h"

#include <jni.h>

#include <atomic>

// Set once by the creation, before the stop control is accepted; read by the
// control path while start() runs; cleared by the destruction.
static std::atomic<JavaVM*> g_vm{nullptr};

bool jvm_exists()
{
    return g_vm.load() != nullptr;
}

void destroy_jvm()
{
    JavaVM* vm = g_vm.exchange(nullptr);
    if (vm != nullptr)
        vm->DestroyJavaVM();
}
