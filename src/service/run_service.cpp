#include "service/service.h"

#include "log/log.h"

#include <cstring>

void run_service(const char* service_name)
{
    if (service_name == nullptr || strlen(service_name) < 6) {
        log_line("Invalid service name");
        terminate(-1);
    }
}
