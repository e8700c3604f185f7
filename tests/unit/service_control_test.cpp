#include "log/log.h"
#include "platform/os_scm.h"
#include "service/service.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

// The control handler without an SCM around it: what it logs shows whether it
// asked the application to stop. (No VM exists here, so a stop request logs
// "Invoking stop()" and that no VM can be stopped.)
TEST(ControlHandler, ShutdownStopsLikeStopOnceAndOtherControlsAreIgnored)
{
    std::string path = ::testing::TempDir() + "control_handler_log.txt";
    FILE* file = fopen(path.c_str(), "w");
    ASSERT_NE(nullptr, file);
    log_to_file(file);

    for (unsigned long ignored : {2ul, 3ul, 4ul, 128ul})
        control_handler(ignored);
    control_handler(OS_CONTROL_SHUTDOWN);
    control_handler(OS_CONTROL_STOP); // repeated: the first request is under way
    control_handler(OS_CONTROL_SHUTDOWN);

    log_to_console();
    fclose(file);
    std::ifstream in(path);
    std::vector<std::string> messages;
    for (std::string line; std::getline(in, line);)
        messages.push_back(line.substr(22)); // past "YYYY-MM-DD HH:MM:SS - "
    EXPECT_EQ((std::vector<std::string>{"Invoking stop()", "Cannot invoke stop(): no JVM exists"}),
              messages);
    std::remove(path.c_str());
}
