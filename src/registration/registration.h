// The console commands that register and remove a service instance in the
// Service Control Manager. Every outcome is printed on standard output.
#pragma once

// "ZR - " followed by the instance name: the SCM service name and display name.
extern const char SERVICE_NAME_PREFIX[];

void install_service(const char* instance_name);
void uninstall_service(const char* instance_name);
