#include "instance/instance.h"
#include "instance/steps.h"

#include "text/bounded_text.h"

int parse_stop_timeout(const char* text)
{
    return parse_whole_number(text, MOST_STOP_TIMEOUT);
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
