#include "jvm/vm_stack.h"

#include <cstdio>

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

unsigned long long start_stack_size(unsigned long long option_size, default_args_function defaults)
{
    unsigned long long size = option_size;
    if (size == 0 && defaults != nullptr) {
        jdk_1_1_init_args args = {};
        args.version = JNI_VERSION_1_1;
        defaults(&args); // its result says only whether 1.1 is supported
        if (args.java_stack_size > 0)
            size = static_cast<unsigned long long>(args.java_stack_size);
    }
    return size != 0 && size < LEAST_START_STACK ? LEAST_START_STACK : size;
}
