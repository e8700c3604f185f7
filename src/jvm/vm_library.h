// Binding the Java VM library of a Java home.
#pragma once
#include "jvm/vm_stack.h"

#include <jni.h>

typedef jint(JNICALL* create_vm_function)(JavaVM** vm, void** env, void* args);

// Loads the VM library below the Java home by its full path, never by its
// bare name, and resolves its entry point, and *defaults its
// JNI_GetDefaultJavaVMInitArgs (null when it has none). Returns the entry
// point, or null after logging why the library cannot be used.
create_vm_function bind_vm_library(const char* java_home, default_args_function* defaults);
