#include "jvm/vm_library.h"

#include "log/log.h"
#include "platform/os_errors.h"
#include "platform/os_library.h"
#include "platform/os_paths.h"
#include "platform/os_vm_stdio.h"
#include "text/bounded_text.h"

create_vm_function bind_vm_library(const char* java_home, default_args_function* defaults)
{
    char path[PATH_CAPACITY] = "";
    if (bounded_copy(path, sizeof path, java_home) != 0 || bounded_append(path, sizeof path, OS_JVM_LIBRARY) != 0) {
        log_format("Java home '%s' is too long: its VM library path exceeds %d characters", java_home,
                   PATH_CAPACITY - 1);
        return nullptr;
    }
    // A relative Java home would be looked up from the current directory,
    // the instance folder, which the application writes to.
    if (!os_path_is_absolute(path)) {
        log_format("Java home '%s' is not an absolute path: the VM library is not loaded from it", java_home);
        return nullptr;
    }
    os_use_native_separators(path);
    char reason[2 * PATH_CAPACITY];
    void* library = os_load_library(path);
    if (library == nullptr) {
        os_library_error(reason, sizeof reason);
        log_format("%s('%s') failed: %s", OS_LOAD_LIBRARY_CALL, path, reason);
        return nullptr;
    }
    void* entry = os_find_symbol(library, "JNI_CreateJavaVM");
    if (entry == nullptr) {
        os_library_error(reason, sizeof reason);
        log_format("%s('%s', 'JNI_CreateJavaVM') failed: %s", OS_FIND_SYMBOL_CALL, path, reason);
        return nullptr;
    }
    *defaults = reinterpret_cast<default_args_function>(os_find_symbol(library, "JNI_GetDefaultJavaVMInitArgs"));
    os_error error;
    const char* missing = "";
    os_vm_stdio_binding bound = os_bind_vm_stdio(library, &error, &missing);
    if (bound == OS_VM_STDIO_APART)
        log_format("The C runtime of '%s' keeps its standard output and error apart: %s failed: %lu", path,
                   error.call, error.code);
    if (bound == OS_VM_STDIO_NOT_FOUND)
        log_format("Cannot find the C runtime of '%s': %s; the VM's output, its log files included, goes to "
                   "standard error and the log",
                   path, missing);
    return reinterpret_cast<create_vm_function>(entry);
}
