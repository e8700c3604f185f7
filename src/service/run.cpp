#include "service/run.h"

#include "instance/class_archive.h"
#include "instance/instance.h"
#include "log/log.h"
#include "platform/os_console.h"
#include "platform/os_errors.h"
#include "platform/os_thread.h"

#include <thread>

run& the_run()
{
    static run& process_run = *new run();
    return process_run;
}

run_limits run_limits_of(const instance_plan& plan)
{
    run_limits limits;
    limits.stop_timeout = std::chrono::seconds(plan.stop_timeout);
    return limits;
}

// The VM's hooks have no context: they end the process's run.
static void host_vm_ends_process(int code, vm_end how)
{
    vm_ends_run(the_run(), code, how);
}

// The VM's part of the plan: its Java home, and its options, the class path
// first.
static jvm_launch launch_of(const instance_plan& plan)
{
    jvm_launch launch;
    launch.java_home = plan.java_home;
    launch.options.push_back(class_path_option(plan));
    launch.options.insert(launch.options.end(), plan.options.begin(), plan.options.end());
    return launch;
}

static unsigned long long host_start_stack_size(const instance_plan& plan)
{
    return jvm_start_stack_size(launch_of(plan));
}

static bool create_host_vm(const instance_plan& plan)
{
    on_vm_exit(host_vm_ends_process);
    return create_jvm(launch_of(plan));
}

run_vm host_vm()
{
    return run_vm{host_start_stack_size, create_host_vm, invoke_start, invoke_stop, destroy_jvm};
}

struct application_thread {
    run* r;
    void (*body)(run& r);
};

static void run_application_thread(void* argument)
{
    application_thread* thread = static_cast<application_thread*>(argument);
    thread->body(*thread->r);
    delete thread;
}

void* start_application_thread(run& r, void (*body)(run& r))
{
    // Sizing the thread binds the VM library, whose failure is said here.
    log_line("Starting JVM");
    unsigned long long stack = r.vm.start_stack_size != nullptr ? r.vm.start_stack_size(r.plan) : 0;
    application_thread* argument = new application_thread{&r, body};
    void* thread = os_start_thread(stack, run_application_thread, argument);
    if (thread == nullptr) {
        delete argument;
        end_run_with(fail_format("Cannot start the thread of the Java VM (a stack of %llu bytes): %lu", stack,
                                 os_last_error()));
    }
    return thread;
}

void take_plan(run& r, instance_plan plan)
{
    r.plan = std::move(plan);
    r.limits = run_limits_of(r.plan);
    r.archive_pending.store(r.plan.archive == archive_decision::WRITTEN);
}

run_phase current_phase(run& r)
{
    std::lock_guard<std::mutex> hold(r.lock);
    return r.phase;
}

void end_run_now(run& r, int exit_code)
{
    {
        std::lock_guard<std::mutex> hold(r.lock);
        r.phase = run_phase::ABANDONED;
        r.changed.notify_all();
    }
    // The report is the last thing the process does: a service may be ended
    // at any moment after it.
    close_log();
    if (r.events.ended != nullptr)
        r.events.ended(exit_code);
    r.events.end_process(exit_code);
}

static bool has_returned(run_phase phase)
{
    return phase >= run_phase::RETURNED;
}

// Ends the process when start() has not returned within limit.
static void watch_stop_timeout(run* r, std::chrono::milliseconds limit)
{
    {
        std::unique_lock<std::mutex> hold(r->lock);
        if (r->changed.wait_for(hold, limit, [r] { return has_returned(r->phase); }))
            return;
    }
    log_format("The application did not stop within %d seconds of the stop request: the process ends without "
               "waiting for it",
               static_cast<int>(std::chrono::duration_cast<std::chrono::seconds>(limit).count()));
    end_run_now(*r, APPLICATION_STOP_TIMEOUT);
}

// The stopping thread: calls stop(), detached from the VM when it returns.
// When stop() cannot be called or ends with an exception while start() still
// runs, start() is waited for as after a stop timeout: the stop timeout when
// set (its watch runs already), else the clean-up limit.
static void call_stop(run* r)
{
    // Created by a thread that blocks the stop signals (the console's watch).
    os_begin_application_thread();
    bool called = r->vm.stop();
    std::lock_guard<std::mutex> hold(r->lock);
    r->stop_running = false;
    r->changed.notify_all();
    if (!called && !has_returned(r->phase) && r->limits.stop_timeout.count() == 0)
        std::thread(watch_stop_timeout, r, r->limits.cleanup).detach();
}

stop_request request_stop(run& r)
{
    {
        std::lock_guard<std::mutex> hold(r.lock);
        if (++r.stop_requests > 1)
            return stop_request::REPEATED;
        if (has_returned(r.phase))
            return stop_request::LATE;
        if (r.phase != run_phase::CREATING) {
            if (r.events.stopping != nullptr)
                r.events.stopping();
            // stop() runs on a thread of its own, so that the caller (the
            // SCM's control handler, the console's watch) is free for the
            // next request.
            if (r.phase == run_phase::RUNNING) {
                r.stop_running = true;
                std::thread(call_stop, &r).detach();
            }
            r.phase = run_phase::STOPPING;
            if (r.limits.stop_timeout.count() > 0)
                std::thread(watch_stop_timeout, &r, r.limits.stop_timeout).detach();
            return stop_request::TAKEN;
        }
        // start() is never invoked from here on.
        r.phase = run_phase::STOPPING;
    }
    // On a thread of its own: the SCM's control handler returns at once.
    std::thread([&r] {
        log_line("Stop requested while the JVM was being created: the process ends");
        end_run_now(r, 0);
    }).detach();
    return stop_request::TAKEN;
}

// The VM was not created: an archive it was to write has the next runs
// stand aside.
[[noreturn]] static void end_after_failed_creation(run& r)
{
    if (r.archive_pending.exchange(false))
        class_archive_vm_not_created(r.plan);
    end_run_with(fail("Create JVM failed!"));
}

void create_vm(run& r)
{
    if (!r.vm.create(r.plan))
        end_after_failed_creation(r);
    class_archive_vm_created(r.plan);
    std::lock_guard<std::mutex> hold(r.lock);
    if (r.phase == run_phase::CREATING)
        r.phase = run_phase::CREATED;
    r.changed.notify_all();
}

// Returns true when start() may run, after telling so; false when a stop
// request came first.
static bool begin_start(run& r)
{
    std::lock_guard<std::mutex> hold(r.lock);
    if (r.phase != run_phase::CREATED && r.phase != run_phase::CREATING)
        return false;
    r.phase = run_phase::RUNNING;
    r.start_invoked = true;
    if (r.events.running != nullptr)
        r.events.running();
    return true;
}

// From here on stop requests are late; a stop() under way goes on.
static void end_start(run& r, int result)
{
    std::lock_guard<std::mutex> hold(r.lock);
    r.start_result = result;
    if (r.phase != run_phase::ABANDONED)
        r.phase = run_phase::RETURNED;
    r.changed.notify_all();
}

int run_start(run& r)
{
    int result = START_RETURNED;
    if (begin_start(r)) {
        log_line("Invoking main");
        result = r.vm.start();
    } else {
        log_line("Stop requested before the application started: start() is not called");
    }
    end_start(r, result);
    return result;
}

// Waits until no thread is calling stop(): the VM must not be destroyed
// under it. Says so when that takes longer than the grace. Returns false
// when the process is ending without the clean-up meanwhile.
static bool wait_for_stop_to_return(run& r)
{
    std::unique_lock<std::mutex> hold(r.lock);
    if (!r.changed.wait_for(hold, r.limits.stop_grace, [&r] { return !r.stop_running; })) {
        hold.unlock();
        log_line("Waiting for stop() to return before destroying the JVM");
        hold.lock();
        r.changed.wait(hold, [&r] { return !r.stop_running; });
    }
    if (r.phase == run_phase::ABANDONED)
        return false;
    r.phase = run_phase::DESTROYING;
    return true;
}

bool release_application(run& r)
{
    if (!wait_for_stop_to_return(r))
        return false;
    bool destroyed = r.vm.destroy();
    bool application_ran;
    {
        std::lock_guard<std::mutex> hold(r.lock);
        application_ran = r.start_invoked && r.start_result == START_RETURNED;
    }
    if (r.archive_pending.exchange(false))
        finish_class_archive(r.plan, destroyed, application_ran);
    close_log();
    std::lock_guard<std::mutex> hold(r.lock);
    if (r.phase == run_phase::ABANDONED)
        return false;
    r.phase = run_phase::DONE;
    r.changed.notify_all();
    return true;
}

void wait_for_cleanup(run& r)
{
    std::unique_lock<std::mutex> hold(r.lock);
    r.changed.wait(hold, [&r] { return has_returned(r.phase); });
    if (r.changed.wait_for(hold, r.limits.cleanup,
                           [&r] { return r.phase == run_phase::DONE || r.phase == run_phase::ABANDONED; }))
        return;
    hold.unlock();
    log_format("The JVM was not destroyed within %lld seconds after the application ended: the process ends "
               "without waiting for it",
               static_cast<long long>(std::chrono::duration_cast<std::chrono::seconds>(r.limits.cleanup).count()));
    end_run_now(r, APPLICATION_CLEANUP_TIMEOUT);
}

// The VM gave up while destroyed: when the run had it write its class
// archive, that is taken for the cause.
static void end_after_failed_destruction(run& r)
{
    // Without an archive to write, the VM's giving up is a failure of its
    // own, which it ends its own way (with a core dump where configured).
    if (!r.archive_pending.load())
        return;
    log_line("The Java VM gave up while it was destroyed, after the application had ended");
    if (r.archive_pending.exchange(false))
        fail_class_archive(r.plan, "the VM gave up while writing it, for the reason it gives above");
    int result;
    {
        std::lock_guard<std::mutex> hold(r.lock);
        result = r.start_result;
    }
    end_run_now(r, application_exit_code(result));
}

void vm_ends_run(run& r, int code, vm_end how)
{
    if (how == VM_END_CREATING)
        end_after_failed_creation(r);
    if (how == VM_END_DESTROYING) {
        end_after_failed_destruction(r);
        return;
    }
    // The next runs stand aside: an archive the VM cannot write at the
    // application's exit would fail it every time.
    if (how == VM_END_ABORTING) {
        if (r.archive_pending.exchange(false))
            fail_class_archive(r.plan, "the VM gave up while the application ran, for the reason it gives above");
        return;
    }
    // The VM wrote its class archive before it called its exit hook.
    if (r.archive_pending.exchange(false)) {
        bool started;
        {
            std::lock_guard<std::mutex> hold(r.lock);
            started = r.start_invoked;
        }
        finish_class_archive(r.plan, true, started);
    }
    log_format("The application ended the process with exit code %d", code);
    end_run_now(r, code == 0 ? 0 : APPLICATION_EXITED);
}

int application_exit_code(int start_result)
{
    switch (start_result) {
    case START_NO_CLASS:
        return APPLICATION_NO_CLASS;
    case START_NO_METHOD:
        return APPLICATION_NO_START;
    case START_THREW:
        return APPLICATION_START_THREW;
    case START_RETURNED:
        return 0;
    default:
        return -1;
    }
}

void end_run_with(const run_failure& failure)
{
    if (failure.on_console)
        say_on_console("%s", failure.reason.c_str());
    else if (!failure.reason.empty())
        log_line(failure.reason.c_str());
    terminate(failure.exit_code);
}

run_failure prepare_run(run& r, const char* instance_name)
{
    preparation prepared = prepare_instance(instance_name);
    take_plan(r, std::move(prepared.plan));
    return prepared.failure;
}
