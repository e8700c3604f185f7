// The console commands that register and remove a service instance in the
// Service Control Manager. Every outcome is printed on standard output.
#pragma once

// Both take a name the command line gave and return the process's exit
// status: 0 when the SCM did what was asked, 1 when the name or the
// executable's path is refused or the SCM refused the request.
int install_service(const char* instance_name);
int uninstall_service(const char* instance_name);
