#include "platform/os_scm.h"
#include "service/run.h"
#include "service/service.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

// ctest runs each test in a process of its own: the process's run and the
// double's state below belong to one test.

// The control handler over the process's run: only a stop, the system's
// preshutdown and its shutdown are stop requests.
class ControlHandler : public ::testing::TestWithParam<unsigned long> {};

TEST_P(ControlHandler, TakesAStopAndIgnoresOtherControls)
{
    run& r = the_run();
    r.phase = run_phase::CREATED;
    for (unsigned long ignored : {2ul, 3ul, 4ul, 128ul}) // pause, continue, interrogate, user-defined
        EXPECT_FALSE(control_handler(ignored));
    EXPECT_EQ(0, r.stop_requests);
    EXPECT_EQ(run_phase::CREATED, current_phase(r));
    EXPECT_TRUE(control_handler(GetParam()));
    EXPECT_EQ(1, r.stop_requests);
    EXPECT_EQ(run_phase::STOPPING, current_phase(r));
}

INSTANTIATE_TEST_SUITE_P(StopAndSystemShutdown, ControlHandler,
                         ::testing::Values(OS_CONTROL_STOP, OS_CONTROL_PRESHUTDOWN, OS_CONTROL_SHUTDOWN));

// A VM double: what start(), stop() and the destruction do is scripted, and
// every call and event of the run is recorded in order.
namespace {

enum start_script { START_RETURNS, START_WAITS_FOR_STOP, START_NEVER_RETURNS, START_THROWS };
enum stop_script { STOP_ENDS_START, STOP_DOES_NOTHING, STOP_FAILS, STOP_EXITS };

struct vm_double {
    std::mutex lock;
    std::condition_variable changed;
    start_script start = START_RETURNS;
    stop_script stop = STOP_ENDS_START;
    bool destroy_hangs = false;
    bool create_waits = false; // the creation returns only at the test's end
    bool stopped = false;  // stop() made start() return
    bool released = false; // the test's end lets every blocked call return
    std::string calls;
    int ended = -100;       // the exit code the run ended the process with
    bool end_told = false;  // events.ended came first

    void record(const std::string& call)
    {
        std::lock_guard<std::mutex> hold(lock);
        calls += call + " ";
        changed.notify_all();
    }

    void wait_until(bool vm_double::*flag_a, bool vm_double::*flag_b)
    {
        std::unique_lock<std::mutex> hold(lock);
        changed.wait(hold, [&] { return this->*flag_a || this->*flag_b; });
    }
};

// Never destroyed: a thread of a run that ended without waiting may still
// wait in it.
vm_double& g_double = *new vm_double;

bool double_create(const instance_plan&)
{
    g_double.record("create");
    if (g_double.create_waits)
        g_double.wait_until(&vm_double::released, &vm_double::released);
    return true;
}

int double_start()
{
    g_double.record("start");
    switch (g_double.start) {
    case START_RETURNS:
        return START_RETURNED;
    case START_THROWS:
        return START_THREW;
    case START_WAITS_FOR_STOP:
        g_double.wait_until(&vm_double::stopped, &vm_double::released);
        return START_RETURNED;
    case START_NEVER_RETURNS:
        g_double.wait_until(&vm_double::released, &vm_double::released);
        return START_RETURNED;
    }
    return START_RETURNED;
}

bool double_stop()
{
    g_double.record("stop");
    if (g_double.stop == STOP_EXITS) {
        vm_ends_run(the_run(), 3, VM_END_EXIT);
        return true;
    }
    if (g_double.stop == STOP_ENDS_START) {
        std::lock_guard<std::mutex> hold(g_double.lock);
        g_double.stopped = true;
        g_double.changed.notify_all();
    }
    return g_double.stop != STOP_FAILS;
}

bool double_destroy()
{
    g_double.record("destroy");
    if (g_double.destroy_hangs)
        g_double.wait_until(&vm_double::released, &vm_double::released);
    return true;
}

void double_running()
{
    g_double.record("running");
}

void double_stopping()
{
    g_double.record("stopping");
}

void double_ended(int exit_code)
{
    g_double.record("ended:" + std::to_string(exit_code));
}

void double_end_process(int exit_code)
{
    std::lock_guard<std::mutex> hold(g_double.lock);
    g_double.ended = exit_code;
    g_double.changed.notify_all();
}

} // namespace

// When the road's stop request comes.
enum stop_moment { NO_STOP, STOP_WHILE_CREATING, STOP_BEFORE_START, STOP_WHILE_RUNNING, STOP_AFTER_RETURN, STOP_TWICE };

struct stop_road {
    const char* name;
    start_script start;
    stop_script stop;
    bool destroy_hangs;
    int stop_timeout_ms; // 0: none
    stop_moment moment;
    std::string calls;   // the VM's calls and the run's events, in order
    int exit_code;       // the service's exit code, the foreground's status
    bool abandoned;      // the process ended without the normal road
};

std::ostream& operator<<(std::ostream& out, const stop_road& road)
{
    return out << road.name;
}

// Every way a run ends once its creation has begun. The limits are milliseconds: the
// clean-up 200, the stop grace 20, the stop timeout as given.
const stop_road STOP_ROADS[] = {
    {"application_ends_by_itself", START_RETURNS, STOP_ENDS_START, false, 0, NO_STOP,
     "create running start destroy ", 0, false},
    {"start_throws", START_THROWS, STOP_ENDS_START, false, 0, NO_STOP, "create running start destroy ", 3, false},
    {"stop_during_creation", START_RETURNS, STOP_ENDS_START, false, 50, STOP_WHILE_CREATING, "create ended:0 ", 0,
     true},
    {"stop_before_start", START_RETURNS, STOP_ENDS_START, false, 0, STOP_BEFORE_START,
     "create stopping destroy ", 0, false},
    {"stop_during_start", START_WAITS_FOR_STOP, STOP_ENDS_START, false, 0, STOP_WHILE_RUNNING,
     "create running start stopping stop destroy ", 0, false},
    {"late_stop", START_RETURNS, STOP_ENDS_START, false, 0, STOP_AFTER_RETURN, "create running start destroy ", 0,
     false},
    {"second_stop_changes_nothing", START_WAITS_FOR_STOP, STOP_ENDS_START, false, 0, STOP_TWICE,
     "create running start stopping stop destroy ", 0, false},
    {"stop_timeout", START_NEVER_RETURNS, STOP_DOES_NOTHING, false, 50, STOP_WHILE_RUNNING,
     "create running start stopping stop ended:4 ", APPLICATION_STOP_TIMEOUT, true},
    {"failed_stop_waits_for_the_cleanup_limit", START_NEVER_RETURNS, STOP_FAILS, false, 0, STOP_WHILE_RUNNING,
     "create running start stopping stop ended:4 ", APPLICATION_STOP_TIMEOUT, true},
    {"cleanup_limit", START_RETURNS, STOP_ENDS_START, true, 0, NO_STOP,
     "create running start destroy ended:7 ", APPLICATION_CLEANUP_TIMEOUT, true},
    {"system_exit_during_stop", START_WAITS_FOR_STOP, STOP_EXITS, false, 0, STOP_WHILE_RUNNING,
     "create running start stopping stop ended:5 ", APPLICATION_EXITED, true},
};

class StopRoads : public ::testing::TestWithParam<stop_road> {};

// Polls until the double's calls hold text, for at most 10 s.
static bool wait_for_call(const std::string& text)
{
    std::unique_lock<std::mutex> hold(g_double.lock);
    return g_double.changed.wait_for(hold, std::chrono::seconds(10),
                                     [&] { return g_double.calls.find(text) != std::string::npos; });
}

TEST_P(StopRoads, EndAsTheRoadSays)
{
    const stop_road& road = GetParam();
    g_double.start = road.start;
    g_double.stop = road.stop;
    g_double.destroy_hangs = road.destroy_hangs;
    g_double.create_waits = road.moment == STOP_WHILE_CREATING;
    run& r = the_run();
    r.vm = run_vm{nullptr, double_create, double_start, double_stop, double_destroy};
    r.events = run_events{double_running, double_stopping, double_ended, double_end_process};
    r.limits.stop_timeout = std::chrono::milliseconds(road.stop_timeout_ms);
    r.limits.cleanup = std::chrono::milliseconds(200);
    r.limits.stop_grace = std::chrono::milliseconds(20);

    // The application's thread as both modes run it, the clean-up's watch
    // beside it.
    std::thread cleanup_watch(wait_for_cleanup, std::ref(r));
    bool released = false;
    std::thread application([&] {
        create_vm(r);
        if (road.moment == STOP_BEFORE_START) {
            EXPECT_EQ(stop_request::TAKEN, request_stop(r));
        }
        run_start(r);
        released = release_application(r);
    });
    if (road.moment == STOP_WHILE_CREATING) {
        EXPECT_TRUE(wait_for_call("create")); // on: the threads are joined below
        EXPECT_EQ(stop_request::TAKEN, request_stop(r));
    }
    if (road.moment == STOP_WHILE_RUNNING || road.moment == STOP_TWICE) {
        EXPECT_TRUE(wait_for_call("start"));
        EXPECT_EQ(stop_request::TAKEN, request_stop(r));
    }
    if (road.moment == STOP_TWICE) {
        EXPECT_EQ(stop_request::REPEATED, request_stop(r));
    }
    cleanup_watch.join();
    // The run's phase says it ends before the process is ended.
    if (road.abandoned) {
        std::unique_lock<std::mutex> hold(g_double.lock);
        EXPECT_TRUE(g_double.changed.wait_for(hold, std::chrono::seconds(10), [] { return g_double.ended != -100; }));
    }
    if (road.moment == STOP_AFTER_RETURN) {
        EXPECT_EQ(stop_request::LATE, request_stop(r));
    }
    {
        std::lock_guard<std::mutex> hold(g_double.lock);
        g_double.released = true;
        g_double.changed.notify_all();
    }
    application.join();

    std::lock_guard<std::mutex> hold(g_double.lock);
    EXPECT_EQ(road.calls, g_double.calls);
    EXPECT_EQ(road.abandoned, !released);
    int exit_code = road.abandoned ? g_double.ended : application_exit_code(r.start_result);
    EXPECT_EQ(road.exit_code, exit_code);
}

INSTANTIATE_TEST_SUITE_P(Table, StopRoads, ::testing::ValuesIn(STOP_ROADS),
                         [](const ::testing::TestParamInfo<stop_road>& info) { return info.param.name; });

// The service's own road: a clean-up that never ends gives up after the
// clean-up limit, reporting STOPPED with code 7, instead of staying
// STOP_PENDING for ever.
TEST(ServiceRun, GivesUpACleanupThatNeverEnds)
{
    g_double.destroy_hangs = true;
    run& r = the_run();
    serve_run_events(r);
    r.vm = run_vm{nullptr, double_create, double_start, double_stop, double_destroy};
    r.events.end_process = double_end_process;
    r.limits.cleanup = std::chrono::milliseconds(100);
    std::thread service(serve_run, std::ref(r));
    service.detach(); // stays in the destruction
    std::unique_lock<std::mutex> hold(g_double.lock);
    EXPECT_TRUE(g_double.changed.wait_for(hold, std::chrono::seconds(10), [] { return g_double.ended != -100; }));
    EXPECT_EQ(APPLICATION_CLEANUP_TIMEOUT, g_double.ended);
    EXPECT_EQ("create start destroy ", g_double.calls);
}
