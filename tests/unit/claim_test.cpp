#include "instance/steps.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>
#include <random>
#include <thread>

namespace fs = std::filesystem;

// The claim of an instance held by another run: taken once that run lets it
// go within the product's wait (a service's process lasts a moment after its
// stopped report), refused on the console when it stays held.
TEST(Claim, WaitsForAClaimLetGoAndRefusesOneThatStaysHeld)
{
    fs::path folder = fs::temp_directory_path() / ("zrsvc-claim-" + std::to_string(std::random_device()()));
    fs::create_directories(folder);
    int held = open((folder / "zrsvc.lock").c_str(), O_RDWR | O_CREAT, 0644);
    ASSERT_EQ(0, flock(held, LOCK_EX | LOCK_NB));

    run_failure refused = claim_instance(folder.string(), "shop", std::chrono::milliseconds(100));
    EXPECT_TRUE(refused.failed() && refused.on_console);
    EXPECT_EQ("Instance 'shop' is already running", refused.reason);

    std::thread let_go([held] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300)); // the other run ends meanwhile
        close(held);
    });
    run_failure taken = claim_instance(folder.string(), "shop", CLAIM_HELD_WAIT);
    let_go.join();
    EXPECT_FALSE(taken.failed()) << taken.reason;
    fs::remove_all(folder);
}
