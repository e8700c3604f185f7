// What the host needs to create an instance's VM: the VM's part of the run's
// plan, handed over by the run's owner. The host knows no layout.
#pragma once
#include <string>
#include <vector>

struct jvm_launch {
    // The Java installation whose VM library is loaded.
    std::string java_home;
    // The VM's options in their order (the class path first).
    std::vector<std::string> options;
};
