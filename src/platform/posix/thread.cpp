#include "platform/os_thread.h"

#include <cerrno>
#include <climits>
#include <pthread.h>
#include <unistd.h>

struct thread_start {
    void (*run)(void*);
    void* argument;
    pthread_t thread;
};

static void* run_thread(void* start)
{
    thread_start* self = static_cast<thread_start*>(start);
    self->run(self->argument);
    return nullptr;
}

void* os_start_thread(unsigned long long stack_bytes, void (*run)(void*), void* argument)
{
    pthread_attr_t attributes;
    int error = pthread_attr_init(&attributes);
    if (error != 0) {
        errno = error;
        return nullptr;
    }
    if (stack_bytes != 0) {
        // As the launcher: the size in whole pages.
        unsigned long long page = static_cast<unsigned long long>(sysconf(_SC_PAGESIZE));
        unsigned long long size = (stack_bytes + page - 1) / page * page;
        if (size < static_cast<unsigned long long>(PTHREAD_STACK_MIN))
            size = PTHREAD_STACK_MIN;
        error = pthread_attr_setstacksize(&attributes, static_cast<size_t>(size));
    }
    thread_start* start = new thread_start{run, argument, {}};
    if (error == 0)
        error = pthread_create(&start->thread, &attributes, run_thread, start);
    pthread_attr_destroy(&attributes);
    if (error == 0)
        return start;
    delete start;
    errno = error;
    return nullptr;
}

void os_join_thread(void* thread)
{
    thread_start* start = static_cast<thread_start*>(thread);
    pthread_join(start->thread, nullptr);
    delete start;
}
