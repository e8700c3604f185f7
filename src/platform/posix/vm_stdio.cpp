#include "platform/os_vm_stdio.h"

// The VM shares this program's C runtime.
int os_bind_vm_stdio(void*, const char**)
{
    return 0;
}

os_vm_stream os_vm_stream_kind(FILE* stream)
{
    if (stream == stdout)
        return OS_VM_STANDARD_OUTPUT;
    return stream == stderr ? OS_VM_STANDARD_ERROR : OS_VM_OTHER_STREAM;
}

int os_vm_vfprintf(FILE* stream, bool flush, const char* format, va_list arguments)
{
    int length = vfprintf(stream, format, arguments);
    if (flush)
        fflush(stream);
    return length;
}
