#include "instance/instance.h"
#include "instance/steps.h"

#include "instance/class_archive.h"
#include "instance/jvm_options.h"
#include "log/log.h"
#include "platform/os_errors.h"
#include "platform/os_paths.h"
#include "text/bounded_text.h"

#include <cerrno>

static const char VERSION_TEXT[] = "ZR NTService 1.0";

// The folders, the claim, the log and the working directory.
static run_failure settle_instance(const char* instance_name, instance_plan* plan)
{
    run_failure failure = read_base_folder(&plan->base_folder);
    if (!failure.failed())
        failure = compose_instance_folder(&plan->instance_folder, plan->base_folder, instance_name);
    // Before anything of the instance is touched: another run may hold it.
    if (!failure.failed())
        failure = claim_instance(plan->instance_folder, instance_name, CLAIM_HELD_WAIT);
    if (failure.failed())
        return failure;
    run_failure limits = read_log_limits(&plan->log_limits);
    open_log_file(plan);
    log_format("Started %s", VERSION_TEXT);
    log_format("BASE PATH: '%s'", plan->base_folder.c_str());
    log_format("WORKING DIR PATH: '%s'", plan->instance_folder.c_str());
    if (limits.failed())
        return limits;
    if (os_set_current_dir(plan->instance_folder.c_str()) == 0)
        return {};
    unsigned long error = os_last_error();
    if (os_error_number(error) == ENOENT)
        return fail_format("Cannot change working dir: %lu: the instance folder '%s' does not exist; create it, "
                           "with its log and conf folders",
                           error, plan->instance_folder.c_str());
    return fail_format("Cannot change working dir: %lu: '%s'", error, plan->instance_folder.c_str());
}

// The JARs of bin, lib and jdbc, then the class path's last entry, relative:
// the instance folder's conf.
static run_failure assemble_class_path(instance_plan* plan)
{
    for (const char* folder : {"bin", "lib", "jdbc"}) {
        run_failure failure = scan_jar_folder(plan->base_folder, folder, &plan->class_path_entries);
        if (failure.failed())
            return failure;
    }
    plan->class_path_entries.push_back("conf");
    if (class_path_option_length(plan->class_path_entries) < LONG_TEXT_CAPACITY)
        return {};
    return fail("Class path too long: no room for its last entry 'conf' within 9999 characters");
}

static run_failure compose_plan(const char* instance_name, instance_plan* plan)
{
    run_failure failure = settle_instance(instance_name, plan);
    if (!failure.failed())
        failure = resolve_java_home(&plan->java_home);
    if (!failure.failed())
        failure = compose_search_assignments(plan);
    if (!failure.failed())
        failure = assemble_class_path(plan);
    if (!failure.failed())
        failure = read_jvm_options(plan->instance_folder, &plan->options);
    if (!failure.failed())
        failure = read_stop_timeout(&plan->stop_timeout);
    if (!failure.failed())
        failure = plan_class_archive(plan);
    return failure;
}

preparation prepare_instance(const char* instance_name)
{
    preparation prepared;
    prepared.failure = compose_plan(instance_name, &prepared.plan);
    if (prepared.failure.failed())
        return prepared;
    apply_search_assignments(prepared.plan);
    log_format("JVM '%s'", class_path_option(prepared.plan).c_str());
    for (const std::string& option : prepared.plan.options)
        log_format("JVM '%s'", option.c_str());
    return prepared;
}
