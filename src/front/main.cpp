// The process entry: chooses what the process is for by its first argument.

#include "log/log.h"
#include "platform/os_process.h"
#include "registration/registration.h"
#include "service/service.h"
#include "text/bounded_text.h"

#include <cstdio>

struct command {
    const char* option;
    void (*handler)(const char* argument);
};

static const command COMMANDS[] = {
    {"-install", install_service},
    {"-uninstall", uninstall_service},
    {"-service", run_service},
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
        if (text_equal_nocase(argv[1], c.option)) {
            c.handler(argv[2]);
            return 0;
        }
    }
    return print_greeting();
}
