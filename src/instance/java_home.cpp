#include "instance/instance.h"
#include "instance/steps.h"

#include "log/log.h"
#include "platform/os_paths.h"
#include "platform/os_process.h"

#include <cstring>

void normalise_java_home(char* java_home)
{
    size_t length = strlen(java_home);
    if (length >= 2 && java_home[0] == '"' && java_home[length - 1] == '"') {
        length -= 2;
        memmove(java_home, java_home + 1, length);
        java_home[length] = '\0';
    }
    if (length > 0 && java_home[length - 1] == OS_PATH_SEPARATOR)
        java_home[length - 1] = '\0';
}

// ZR_JAVA_HOME wins over JAVA_HOME whenever it is set, even when its value
// turns out unusable.
run_failure resolve_java_home(std::string* java_home)
{
    const char* name = os_getenv("ZR_JAVA_HOME") != nullptr ? "ZR_JAVA_HOME" : "JAVA_HOME";
    const char* value = os_getenv(name);
    if (value == nullptr)
        return fail("Neither ZR_JAVA_HOME nor JAVA_HOME environment variable was set !");
    // Measured before the quotes come off: "\" passes and ends empty.
    if (strlen(value) < 3)
        return fail("Invalid ZR_JAVA_HOME or JAVA_HOME environment variable !");
    if (!os_getenv_is_exact(name))
        return fail_format("%s '%s' holds characters that the ANSI code page %u cannot hold", name, value,
                           os_text_code_page());
    std::string text = value;
    normalise_java_home(&text[0]);
    *java_home = text.c_str();
    log_format("JAVA_HOME: '%s'", java_home->c_str());
    return refuse_separator_in("Java home", *java_home);
}
