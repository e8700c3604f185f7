#include "log/log.h"
#include "log/rolling_file.h"
#include "platform/os_scm.h"
#include "service/application.h"
#include "service/service.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

// The control handler without an SCM around it and without a VM: a control
// taken as a stop request keeps the application's start() from being called.
// ctest runs each test in a process of its own, so the stop request taken
// here stays with this test. The system's preshutdown and shutdown stop the
// service as a stop does.
class ControlHandler : public ::testing::TestWithParam<unsigned long> {};

TEST_P(ControlHandler, IsAStopRequestAndOtherControlsAreIgnored)
{
    std::string stem = ::testing::TempDir() + "control_handler_log";
    std::string path = stem + ".txt";
    rolling_file file = {};
    ASSERT_EQ(0, rolling_open(&file, stem.c_str(), "log", {1 << 20, 1}));
    log_to_file(&file);
    for (unsigned long ignored : {2ul, 3ul, 4ul, 128ul})
        control_handler(ignored);
    control_handler(GetParam());
    run_start(nullptr);
    control_handler(OS_CONTROL_STOP); // late: start() is over
    log_to_console();
    rolling_close(&file);
    std::ifstream in(path);
    std::string line, messages;
    while (std::getline(in, line))
        messages += line.substr(22) + "\n";
    EXPECT_EQ("Stop requested before the application started: start() is not called\n", messages);
    std::remove(path.c_str());
}

INSTANTIATE_TEST_SUITE_P(SystemShutdown, ControlHandler,
                         ::testing::Values(OS_CONTROL_PRESHUTDOWN, OS_CONTROL_SHUTDOWN));
