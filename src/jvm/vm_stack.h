// The stack of the thread that creates the VM and runs start(), sized as the
// java launcher sizes the thread that creates the VM and runs main(): a
// thread keeps the stack it has when the VM takes it on.
#pragma once
#include <jni.h>

#include <string>
#include <vector>

#include <cstdio>

typedef jint(JNICALL* default_args_function)(void* args);

// The arguments of JNI 1.1, in which a VM still gives its default stack size
// (the java launcher asks for it so).
struct jdk_1_1_init_args {
    jint version;
    char** properties;
    jint check_source;
    jint native_stack_size;
    jint java_stack_size;
    jint min_heap_size;
    jint max_heap_size;
    jint verify_mode;
    char* class_path;
    jint(JNICALL* vfprintf)(FILE* stream, const char* format, va_list arguments);
    void(JNICALL* exit)(jint code);
    void(JNICALL* abort)();
    jint enable_class_gc;
    jint enable_verbose_gc;
    jint disable_async_gc;
    jint verbose;
    jboolean debugging;
    jint debug_port;
};

// The stack size the options give the VM's threads, in bytes, as the VM takes
// them: the last of -Xss<size> (bytes, or with k, m or g) and
// -XX:ThreadStackSize=<size> (KiB). 0 when no option gives one, or its size
// cannot be read (the VM then refuses it).
unsigned long long option_stack_size(const std::vector<std::string>& options);

// The least a thread needs to create the VM on: less makes the VM overflow
// its stack before it can check an -Xss too small for it.
enum : unsigned long long { LEAST_START_STACK = 160 << 10 };

// The stack size for that thread, in bytes: what the VM options give
// (option_size, from option_stack_size), else the VM's default, which
// defaults (the VM library's JNI_GetDefaultJavaVMInitArgs, null when it has
// none) tells through the arguments of JNI 1.1; never below
// LEAST_START_STACK. 0 when neither gives one: the system's default.
unsigned long long start_stack_size(unsigned long long option_size, default_args_function defaults);
