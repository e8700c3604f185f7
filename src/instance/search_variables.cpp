#include "instance/instance.h"
#include "instance/steps.h"

#include "instance/path_text.h"
#include "log/log.h"
#include "platform/os_errors.h"
#include "text/bounded_text.h"

// The longest "NAME=value" the VM and its log line take.
enum { ASSIGNMENT_MOST = LONG_TEXT_CAPACITY - 1 };

bool compose_search_assignment(search_assignment* assignment, const os_search_variable& variable,
                               const std::string& java_home, const std::string& base_directory,
                               const char* inherited)
{
    // Entries of a search variable are separated as those of the class path.
    const char* list_separator = class_path_separator();
    assignment->name = variable.name;
    std::string& value = assignment->value;
    value.clear();
    for (const os_search_folder* folder = variable.folders; folder->path != nullptr; ++folder) {
        if (folder != variable.folders)
            value += list_separator;
        if (folder->root == OS_BELOW_JAVA_HOME)
            value += java_home + path_separator() + folder->path;
        else
            value += base_directory + folder->path;
    }
    // No separator before an empty value: an empty entry stands for the
    // current directory, the instance folder, which the application writes to.
    if (variable.keeps_inherited && inherited != nullptr && inherited[0] != '\0')
        value = value + list_separator + inherited;
    if (assignment->name.size() + 1 + value.size() <= ASSIGNMENT_MOST)
        return true;
    value.clear();
    return false;
}

// Each variable is composed from the value it inherited, or the system's
// default for it when it is not set.
run_failure compose_search_assignments(instance_plan* plan)
{
    plan->search_variables.clear();
    for (int i = 0; OS_SEARCH_VARIABLES[i].name != nullptr; ++i) {
        const os_search_variable& variable = OS_SEARCH_VARIABLES[i];
        const char* inherited = os_getenv(variable.name);
        if (inherited == nullptr)
            inherited = os_search_default(variable.name);
        search_assignment assignment;
        if (!compose_search_assignment(&assignment, variable, plan->java_home, plan->base_folder, inherited))
            return fail_format("%s too long: with the instance's folders it exceeds 9999 characters", variable.name);
        plan->search_variables.push_back(assignment);
    }
    return {};
}

void apply_search_assignments(const instance_plan& plan)
{
    for (const search_assignment& assignment : plan.search_variables) {
        std::string shown = assignment.name + "=" + assignment.value;
        log_format("JVM '%s'", shown.c_str());
        os_error error = os_setenv(assignment.name.c_str(), assignment.value.c_str());
        if (!error.ok())
            log_format("Cannot set %s: %lu", assignment.name.c_str(), error.code);
    }
}
