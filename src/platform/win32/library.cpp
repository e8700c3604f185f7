#include "platform/os_library.h"

#include "platform/os_errors.h"

#include <windows.h>
#include <cstdio>

const char OS_JVM_LIBRARY[] = "\\bin\\server\\jvm.dll";
const char OS_LOAD_LIBRARY_CALL[] = "LoadLibraryEx";
const char OS_FIND_SYMBOL_CALL[] = "GetProcAddress";

void* os_load_library(const char* path)
{
    // The altered search makes the library's own folder the first place its
    // dependencies are looked for, instead of the executable's folder.
    return LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

void* os_find_symbol(void* library, const char* name)
{
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void os_library_error(char* buffer, size_t capacity)
{
    int length = snprintf(buffer, capacity, "%lu", os_last_error());
    if (length < 0 || static_cast<size_t>(length) >= capacity)
        buffer[0] = '\0';
}
