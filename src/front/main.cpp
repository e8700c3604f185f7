// The process entry: chooses what the process is for by its first argument.

#include "log/log.h"
#include "platform/os_process.h"
#include "platform/os_scm.h"
#include "registration/registration.h"
#include "service/service.h"
#include "text/bounded_text.h"

#include <cstdio>

static int install(const char* instance_name)
{
    return install_service(instance_name);
}

static int uninstall(const char* instance_name)
{
    uninstall_service(instance_name);
    return 0;
}

static int service(const char* service_name)
{
    run_service(service_name);
    return 0;
}

struct command {
    const char* option;
    int (*handler)(const char* argument);
    bool needs_scm;
};

static const command COMMANDS[] = {
    {"-install", install, true},
    {"-uninstall", uninstall, true},
    {"-service", service, true},
    {"-console", run_console, false},
};

static int print_greeting()
{
    printf("This is a 'ZR' service program, refer to documentation how to install and use it.\n\n");
    return 0;
}

int main(int argc, char** argv)
{
    os_process_init();
    log_to_console();
    if (argc < 2)
        return print_greeting();
    for (const command& c : COMMANDS) {
        if (!text_equal_nocase(argv[1], c.option))
            continue;
        if (c.needs_scm && !os_scm_available()) {
            printf("'%s' needs the Windows Service Control Manager; here run an instance with -console name.\n",
                   c.option);
            return 2;
        }
        return c.handler(argv[2]);
    }
    return print_greeting();
}
