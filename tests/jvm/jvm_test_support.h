// What the JVM host tests of both platforms share: a scratch folder per test
// with the log sink in it, reading the log back, polling with a deadline, and
// a service thread that creates the VM, runs start() and destroys the VM.
#pragma once
#include "jvm/jvm_host.h"
#include "log/log.h"
#include "platform/os_process.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

// Polls until done() holds; false when it still does not after 60 s.
inline bool eventually(const std::function<bool()>& done)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

inline std::string read_text(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void write_text(const fs::path& file, const std::string& text)
{
    std::ofstream(file, std::ios::binary) << text;
}

// A fresh folder below root named after the running test, made the current
// directory, with the log sink pointed at its file "zrsvc-log.txt".
inline fs::path enter_scratch(const fs::path& root)
{
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    fs::path folder = root / (std::string(test->test_suite_name()) + "." + test->name());
    fs::remove_all(folder);
    fs::create_directories(folder);
    fs::current_path(folder);
    log_to_file(os_open_text_for_writing((folder / "zrsvc-log.txt").string().c_str()));
    return folder;
}

// The messages logged so far into the scratch folder's log, without their
// timestamps ("YYYY-MM-DD HH:MM:SS - ").
inline std::vector<std::string> logged(const fs::path& scratch)
{
    std::vector<std::string> messages;
    std::ifstream in(scratch / "zrsvc-log.txt");
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        EXPECT_EQ(" - ", line.substr(19, 3)) << line;
        messages.push_back(line.size() > 22 ? line.substr(22) : "");
    }
    return messages;
}

// The service thread of a test: creates the VM, calls start() and, once the
// test allows it, destroys the VM. The hooks run on that thread.
struct service_thread {
    std::function<void()> on_begin;
    std::function<void()> after_start;
    std::atomic<int> created{-1}; // -1 not yet, else 0 or 1
    std::atomic<bool> start_returned{false};
    std::atomic<int> start_result{1};
    std::atomic<bool> may_destroy{false};
    std::atomic<bool> destroyed{false};
    std::thread thread;

    ~service_thread()
    {
        may_destroy = true;
        if (thread.joinable())
            thread.join();
    }
};

inline void start_service_thread(service_thread& s, const std::string& java_home, const std::string& option)
{
    s.thread = std::thread([&s, java_home, option] {
        if (s.on_begin)
            s.on_begin();
        const char* options[] = {option.c_str()};
        s.created = create_jvm(java_home.c_str(), options, 1) ? 1 : 0;
        if (s.created == 1) {
            s.start_result = invoke_start();
            if (s.after_start)
                s.after_start();
            s.start_returned = true;
        }
        eventually([&s] { return s.may_destroy.load(); });
        destroy_jvm();
        s.destroyed = true;
    });
}

// Waits until start() has returned, or the creation has failed.
inline bool start_ended(service_thread& s)
{
    return eventually([&s] { return s.start_returned.load() || s.created == 0; });
}

// Lets the service thread destroy the VM and waits for it to end.
inline void finish(service_thread& s)
{
    s.may_destroy = true;
    s.thread.join();
}
