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
    return uninstall_service(instance_name);
}

static int service(const char* service_name)
{
    run_service(service_name);
    return 0;
}

// When a command prints its usage instead of running: -service leaves a
// missing name to its own check, -uninstall takes an empty name (an old
// registration "ZR - " can still be removed), and an empty name would
// register "ZR - ", a service that can never run, or run no instance.
enum usage_rule { NO_USAGE, USAGE_WITHOUT_NAME, USAGE_WITHOUT_NAME_OR_EMPTY };

struct command {
    const char* option;
    int (*handler)(const char* argument);
    bool needs_scm;
    usage_rule usage;
    int refused_name_status; // the exit status when the name is refused
    // The exit status after the usage: a script that runs an instance
    // without its name must see that nothing ran.
    int usage_status;
};

static const command COMMANDS[] = {
    {"-install", install, true, USAGE_WITHOUT_NAME_OR_EMPTY, 1, 0},
    {"-uninstall", uninstall, true, USAGE_WITHOUT_NAME, 1, 0},
    {"-service", service, true, NO_USAGE, -1, 0},
    {"-console", run_console, false, USAGE_WITHOUT_NAME_OR_EMPTY, 1, 1},
};

// Refuses a name that the code page cannot hold, on the console; for
// -service as any fatal condition of a service, its reason in the event log.
static int refuse_inexact_name(const command& c, const char* name)
{
    char reason[LONG_TEXT_CAPACITY];
    snprintf(reason, sizeof reason, "Invalid instance name '%s': it holds characters that the ANSI code page %u "
             "cannot hold", name, os_text_code_page());
    if (c.handler == service)
        end_service_with(name, fail_on_console(reason));
    printf("%s\n", reason);
    return c.refused_name_status;
}

// The words that ask for the usage of every command.
static const char* const HELP_OPTIONS[] = {"--help", "-h", "-help", "/?"};

static bool shows_usage(usage_rule rule, const char* name)
{
    if (rule == NO_USAGE)
        return false;
    return name == nullptr || (rule == USAGE_WITHOUT_NAME_OR_EMPTY && name[0] == '\0');
}

static void print_usage(const char* option)
{
    printf("Usage: zrsvc %s name\n\tWhere name is the name of folder in the 'work' folder.\n\n", option);
}

static int print_all_usages()
{
    printf("Usage: zrsvc -install name     registers the instance as the Windows service \"ZR - name\",\n"
           "                               started on demand (run it from an elevated prompt)\n"
           "       zrsvc -uninstall name   removes that service (stop it first)\n"
           "       zrsvc -console name     runs the instance in the foreground until Ctrl+C\n"
           "                               (on Linux also SIGTERM or SIGHUP: how systemd runs it)\n"
           "       zrsvc -service \"ZR - name\"  what the Service Control Manager runs\n"
           "\tWhere name is the name of folder in the 'work' folder, beside the folder of zrsvc.\n\n");
    return 0;
}

static bool asks_for_help(const char* argument)
{
    for (const char* option : HELP_OPTIONS)
        if (text_equal_nocase(argument, option))
            return true;
    return false;
}

static int print_greeting()
{
    printf("This is a 'ZR' service program, refer to documentation how to install and use it.\n\n");
    return 0;
}

int main(int argc, char** argv)
{
    os_process_init();
    log_to_console();
    argc = os_arguments(argc, argv, &argv);
    if (argc < 2)
        return print_greeting();
    if (asks_for_help(argv[1]))
        return print_all_usages();
    for (const command& c : COMMANDS) {
        if (!text_equal_nocase(argv[1], c.option))
            continue;
        if (c.needs_scm && !os_scm_available()) {
            printf("'%s' needs the Windows Service Control Manager; here run an instance with -console name.\n",
                   c.option);
            return 2;
        }
        if (shows_usage(c.usage, argv[2])) {
            print_usage(c.option);
            return c.usage_status;
        }
        // A name mapped onto another would run or register another instance.
        if (!os_argument_is_exact(2))
            return refuse_inexact_name(c, argv[2]);
        return c.handler(argv[2]);
    }
    return print_greeting();
}
