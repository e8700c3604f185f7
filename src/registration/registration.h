// The console commands that register and remove a service instance in the
// Service Control Manager. Every outcome is printed on standard output.
#pragma once

// Both take a name the command line gave. install_service returns the
// process's exit status: 1 when the instance name is refused
// (check_instance_name), else 0, whatever the SCM answered.
int install_service(const char* instance_name);
void uninstall_service(const char* instance_name);
