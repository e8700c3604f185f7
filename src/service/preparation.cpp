#include "service/application.h"

#include "instance/class_archive.h"
#include "instance/instance.h"
#include "jvm/jvm_host.h"
#include "log/log.h"

jvm_launch g_launch;

void prepare_instance(const char* instance_name)
{
    int result = build_paths(instance_name, &g_launch);
    if (result != 0) {
        log_format("build_paths() failed: %d", result);
        terminate(-1);
    }
}

// The VM ends the process: during its creation that is a failed creation;
// its giving up while it is destroyed ends the run as the application's end
// did; an exit is the application's end.
static void vm_ends_process(int code, vm_end how)
{
    if (how == VM_END_CREATING) {
        log_line("Create JVM failed!");
        class_archive_vm_not_created();
        terminate(-1);
    }
    if (how == VM_END_DESTROYING) {
        end_after_failed_destruction();
        return;
    }
    // The next runs stand aside: an archive the VM cannot write at the
    // application's exit would fail it every time.
    if (how == VM_END_ABORTING) {
        fail_class_archive("the VM gave up while the application ran, for the reason it gives above");
        return;
    }
    log_format("The application ended the process with exit code %d", code);
    // The VM wrote its class archive before it called the hook.
    finish_class_archive(true, application_started());
    end_application(code == 0 ? 0 : APPLICATION_EXITED);
}

void create_jvm_or_terminate()
{
    on_vm_exit(vm_ends_process);
    log_line("Starting JVM");
    if (!create_jvm(g_launch)) {
        log_line("Create JVM failed!");
        class_archive_vm_not_created();
        terminate(-1);
    }
    class_archive_vm_created();
}
