#include "platform/os_library.h"

#include <dlfcn.h>
#include <cstdio>

const char OS_JVM_LIBRARY[] = "/lib/server/libjvm.so";
const char OS_LOAD_LIBRARY_CALL[] = "dlopen";
const char OS_FIND_SYMBOL_CALL[] = "dlsym";

void* os_load_library(const char* path)
{
    return dlopen(path, RTLD_NOW | RTLD_LOCAL);
}

void* os_find_symbol(void* library, const char* name)
{
    dlerror(); // forget an older failure: the reason must be this lookup's
    return dlsym(library, name);
}

void os_library_error(char* buffer, size_t capacity)
{
    // The loader keeps its text of the thread's last failure until asked.
    const char* reason = dlerror();
    int length = snprintf(buffer, capacity, "%s", reason != nullptr ? reason : "unknown reason");
    if (length < 0 || static_cast<size_t>(length) >= capacity)
        buffer[0] = '\0';
}
