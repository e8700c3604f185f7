#include "platform/os_thread.h"

#include <windows.h>
#include <process.h>

struct thread_start {
    void (*run)(void*);
    void* argument;
};

static unsigned __stdcall run_thread(void* start)
{
    thread_start* self = static_cast<thread_start*>(start);
    self->run(self->argument);
    delete self;
    return 0;
}

void* os_start_thread(unsigned long long stack_bytes, void (*run)(void*), void* argument)
{
    // As the launcher: the size is the stack's reservation, not what is
    // committed at once.
    if (stack_bytes > 0xFFFFFFFFull) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    thread_start* start = new thread_start{run, argument};
    uintptr_t thread = _beginthreadex(nullptr, static_cast<unsigned>(stack_bytes), run_thread, start,
                                      STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (thread != 0)
        return reinterpret_cast<void*>(thread);
    DWORD error = GetLastError();
    delete start;
    SetLastError(error);
    return nullptr;
}

void os_join_thread(void* thread)
{
    WaitForSingleObject(static_cast<HANDLE>(thread), INFINITE);
    CloseHandle(static_cast<HANDLE>(thread));
}
