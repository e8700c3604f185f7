#include "platform/os_notify.h"

int os_notify_service_manager(const char*, bool, const char**)
{
    return 1;
}
