// The call lock: the 100 ms take, the switch, and several threads of a host.
#include "sat_internal.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {

TEST(Lock, OffReturnsAtOnceAndClearsTheFlag) {
    ModoLock = 0;
    lib_lock = 1;
    EXPECT_EQ(lock(), 0);
    EXPECT_EQ(lib_lock, 0);
    EXPECT_EQ(lock(), 0) << "taken again while 'held': no locking";
}

TEST(Lock, HeldFlagMeansBusy) {
    ModoLock = 1;
    lib_lock = 1;
    EXPECT_EQ(lock(), 1);
    EXPECT_EQ(unlock(), 0);
    EXPECT_EQ(lib_lock, 0);
}

TEST(Lock, FreeFlagIsTakenAfterTheSleep) {
    ModoLock = 1;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(lock(), 0);
    auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(lib_lock, 1);
    // A lower bound only: the sleep before the take is part of the behaviour.
    EXPECT_GE(waited, std::chrono::milliseconds(95));
    EXPECT_EQ(lock(), 1);
    unlock();
}

TEST(Lock, NeverHeldByTwoThreads) {
    ModoLock = 1;
    std::atomic<int> inside{0};
    std::atomic<int> overlaps{0};
    std::atomic<int> entries{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 3; ++i) {
                sat::take_lock();
                if (inside.fetch_add(1) != 0) overlaps.fetch_add(1);
                entries.fetch_add(1);
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                inside.fetch_sub(1);
                unlock();
            }
        });
    }
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(entries.load(), 12);
    EXPECT_EQ(overlaps.load(), 0);
    EXPECT_EQ(lib_lock, 0);
}

} // namespace
