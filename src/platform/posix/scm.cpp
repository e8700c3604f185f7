#include "platform/os_scm.h"

#include <cerrno>

// There is no Service Control Manager here: every call fails with ENOSYS.

bool os_scm_available()
{
    return false;
}

static void* unavailable()
{
    errno = ENOSYS;
    return nullptr;
}

void* os_scm_open()
{
    return unavailable();
}

void* os_scm_create_service(void*, const char*, const char*)
{
    return unavailable();
}

void* os_scm_open_service_for_delete(void*, const char*)
{
    return unavailable();
}

int os_scm_delete_service(void*)
{
    errno = ENOSYS;
    return -1;
}

void os_scm_close(void*) {}

int os_service_dispatch(const char*, os_service_main_fn)
{
    errno = ENOSYS;
    return -1;
}

void* os_service_register_handler(const char*, os_control_handler_fn)
{
    return unavailable();
}

int os_service_report(void*, const os_service_status*)
{
    errno = ENOSYS;
    return -1;
}

os_error os_event_source_add(const char*, const char*)
{
    return os_error{"", ENOSYS};
}

os_source_removal os_event_source_remove(const char*, os_error* error)
{
    *error = os_error{"", ENOSYS};
    return OS_SOURCE_FAILED;
}

os_error os_event_log_error(const char*, const char*)
{
    return os_error{"os_event_log_error", ENOSYS};
}
