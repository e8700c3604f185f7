#include "instance/instance.h"
#include "instance/steps.h"

int parse_stop_timeout(const char* text)
{
    int seconds = 0;
    for (const char* at = text; *at != '\0'; ++at) {
        if (*at < '0' || *at > '9')
            return -1;
        seconds = seconds * 10 + (*at - '0');
        if (seconds > MOST_STOP_TIMEOUT)
            return -1;
    }
    return seconds >= 1 ? seconds : -1;
}

run_failure read_stop_timeout(int* seconds)
{
    *seconds = 0;
    const char* value = os_getenv("ZR_STOP_TIMEOUT");
    if (value == nullptr)
        return {};
    *seconds = parse_stop_timeout(value);
    if (*seconds > 0)
        return {};
    *seconds = 0;
    return fail_format("Invalid ZR_STOP_TIMEOUT '%s': a whole number of seconds from 1 to %d is expected", value,
                       MOST_STOP_TIMEOUT);
}
