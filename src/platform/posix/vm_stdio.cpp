#include "platform/os_vm_stdio.h"

#include <fcntl.h>
#include <unistd.h>

// The VM shares this program's C runtime.
os_vm_stdio_binding os_bind_vm_stdio(void*, os_error*, const char**)
{
    return OS_VM_STDIO_BOUND;
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

// The capture's file and the descriptor standard error had before it; -1
// without a capture. Used by the thread that creates the VM, and by the
// VM's hooks under their lock.
static FILE* g_capture = nullptr;
static int g_saved_error = -1;

os_capture_start os_begin_std_error_capture(os_error* error)
{
    g_capture = tmpfile();
    if (g_capture == nullptr) {
        *error = os_failed("tmpfile");
        return OS_CAPTURE_FAILED;
    }
    // Not for a program started meanwhile: it gets descriptor 2 alone.
    fcntl(fileno(g_capture), F_SETFD, FD_CLOEXEC);
    fflush(stderr);
    g_saved_error = fcntl(2, F_DUPFD_CLOEXEC, 3);
    if (g_saved_error < 0) {
        *error = os_failed("fcntl");
    } else if (dup2(fileno(g_capture), 2) >= 0) {
        return OS_CAPTURE_BEGUN;
    } else {
        *error = os_failed("dup2");
        close(g_saved_error);
    }
    g_saved_error = -1;
    fclose(g_capture);
    g_capture = nullptr;
    return OS_CAPTURE_FAILED;
}

size_t os_read_std_error_capture(size_t offset, char* buffer, size_t capacity)
{
    buffer[0] = '\0';
    if (g_capture == nullptr)
        return 0;
    fflush(stderr);
    ssize_t length = pread(fileno(g_capture), buffer, capacity - 1, static_cast<off_t>(offset));
    buffer[length > 0 ? length : 0] = '\0';
    return length > 0 ? static_cast<size_t>(length) : 0;
}

void os_end_std_error_capture()
{
    if (g_saved_error < 0)
        return;
    fflush(stderr);
    dup2(g_saved_error, 2);
    close(g_saved_error);
    g_saved_error = -1;
}

void os_drop_std_error_capture()
{
    if (g_capture != nullptr)
        fclose(g_capture);
    g_capture = nullptr;
}
