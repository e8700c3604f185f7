#include "platform/os_notify.h"

os_notify_result os_notify_service_manager(const char*, bool, os_error*, const char**)
{
    return OS_NOTIFY_NO_MANAGER;
}
