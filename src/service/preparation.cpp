#include "service/application.h"

#include "instance/instance.h"
#include "jvm/jvm_host.h"
#include "log/log.h"

void end_run_with(const run_failure& failure)
{
    if (failure.on_console)
        say_on_console("%s", failure.reason.c_str());
    else if (!failure.reason.empty())
        log_line(failure.reason.c_str());
    terminate(failure.exit_code);
}

void prepare_run(const char* instance_name)
{
    preparation prepared = prepare_instance(instance_name);
    if (prepared.failure.failed())
        end_run_with(prepared.failure);
    take_plan(std::move(prepared.plan));
}

// The VM's part of the plan: its Java home, and its options, the class path
// first.
static jvm_launch vm_launch_of(const instance_plan& plan)
{
    jvm_launch launch;
    launch.java_home = plan.java_home;
    launch.options.push_back(class_path_option(plan));
    launch.options.insert(launch.options.end(), plan.options.begin(), plan.options.end());
    return launch;
}

// The VM ends the process: during its creation that is a failed creation;
// its giving up while it is destroyed ends the run as the application's end
// did; an exit is the application's end.
static void vm_ends_process(int code, vm_end how)
{
    if (how == VM_END_CREATING)
        end_run_with(fail("Create JVM failed!"));
    if (how == VM_END_DESTROYING) {
        end_after_failed_destruction();
        return;
    }
    log_format("The application ended the process with exit code %d", code);
    end_application(code == 0 ? 0 : APPLICATION_EXITED);
}

void create_jvm_or_terminate()
{
    on_vm_exit(vm_ends_process);
    log_line("Starting JVM");
    if (!create_jvm(vm_launch_of(g_plan)))
        end_run_with(fail("Create JVM failed!"));
}
