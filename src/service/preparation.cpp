#include "service/run.h"

#include "instance/instance.h"
#include "log/log.h"

void end_run_with(const run_failure& failure)
{
    if (failure.on_console)
        say_on_console("%s", failure.reason.c_str());
    else if (!failure.reason.empty())
        log_line(failure.reason.c_str());
    terminate(failure.exit_code);
}

run_failure prepare_run(run& r, const char* instance_name)
{
    preparation prepared = prepare_instance(instance_name);
    take_plan(r, std::move(prepared.plan));
    return prepared.failure;
}
