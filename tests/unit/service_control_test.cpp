#include "jvm/jvm_host.h"
#include "log/log.h"
#include "platform/os_scm.h"
#include "service/application.h"
#include "service/service.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

// The control handler without an SCM around it, and without a VM: a control
// taken as a stop request keeps the application's start() from being called,
// which the log shows.
TEST(ControlHandler, ShutdownIsAStopRequestAndOtherControlsAreIgnored)
{
    std::string path = ::testing::TempDir() + "control_handler_log.txt";
    FILE* file = fopen(path.c_str(), "w");
    ASSERT_NE(nullptr, file);
    log_to_file(file);

    for (unsigned long ignored : {2ul, 3ul, 4ul, 128ul})
        control_handler(ignored);
    control_handler(OS_CONTROL_SHUTDOWN);
    EXPECT_EQ(START_RETURNED, run_start());
    control_handler(OS_CONTROL_STOP); // late: start() is over

    log_to_console();
    fclose(file);
    std::ifstream in(path);
    std::vector<std::string> messages;
    for (std::string line; std::getline(in, line);)
        messages.push_back(line.substr(22)); // past "YYYY-MM-DD HH:MM:SS - "
    EXPECT_EQ(std::vector<std::string>{"Stop requested before the application started: start() is not called"},
              messages);
    std::remove(path.c_str());
}
