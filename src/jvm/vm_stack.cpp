#include "jvm/vm_stack.h"

#include <cstring>


// A size of digits and an optional unit (k, m or g in either case), as the
// VM reads its options' sizes. Returns false for any other text.
static bool read_size(const char* text, unsigned long long* size)
{
    unsigned long long value = 0;
    const char* at = text;
    for (; *at >= '0' && *at <= '9'; ++at) {
        if (value > (~0ull - 9) / 10)
            return false;
        value = value * 10 + static_cast<unsigned>(*at - '0');
    }
    if (at == text)
        return false;
    int shift = 0;
    switch (*at) {
    case '\0': break;
    case 'k': case 'K': shift = 10; break;
    case 'm': case 'M': shift = 20; break;
    case 'g': case 'G': shift = 30; break;
    default: return false;
    }
    if (shift != 0 && at[1] != '\0')
        return false;
    if (value > (~0ull >> shift))
        return false;
    *size = value << shift;
    return true;
}

unsigned long long option_stack_size(const std::vector<std::string>& options)
{
    static const char XSS[] = "-Xss";
    static const char THREAD_STACK_SIZE[] = "-XX:ThreadStackSize=";
    unsigned long long size = 0;
    for (const std::string& text : options) {
        const char* option = text.c_str();
        unsigned long long value = 0;
        if (strncmp(option, XSS, sizeof XSS - 1) == 0 && read_size(option + sizeof XSS - 1, &value))
            size = value;
        else if (strncmp(option, THREAD_STACK_SIZE, sizeof THREAD_STACK_SIZE - 1) == 0 &&
                 read_size(option + sizeof THREAD_STACK_SIZE - 1, &value) && value <= (~0ull >> 10))
            size = value << 10;
    }
    return size;
}

unsigned long long start_stack_size(unsigned long long option_size, default_args_function defaults)
{
    unsigned long long size = option_size;
    if (size == 0 && defaults != nullptr) {
        jdk_1_1_init_args args = {};
        args.version = JNI_VERSION_1_1;
        defaults(&args); // its result says only whether 1.1 is supported
        if (args.java_stack_size > 0)
            size = static_cast<unsigned long long>(args.java_stack_size);
    }
    return size != 0 && size < LEAST_START_STACK ? LEAST_START_STACK : size;
}
