// Session numbers: the ring of the last 100 and the per-process seed (whole
// runs started together: golden_stub_test).
#include <gtest/gtest.h>

#include <set>

#include "session.h"

using namespace satcli;

TEST(SessionRing, FirstSaveGoesToSlotOneAndTheRingWraps) {
    clear_sessions();
    EXPECT_FALSE(session_is_new(0)) << "empty slots hold 0";
    EXPECT_TRUE(session_is_new(7));
    EXPECT_EQ(remember_session(7), 1);
    EXPECT_EQ(recent_index, 1);
    EXPECT_EQ(recent_sessions[1], 7);
    EXPECT_FALSE(session_is_new(7));
    for (int i = 2; i <= 100; ++i)
        remember_session(1000 + i);
    EXPECT_EQ(recent_index, 0);
    EXPECT_EQ(recent_sessions[0], 1100) << "the hundredth save lands in slot 0";
    EXPECT_TRUE(session_is_new(0)) << "no slot holds 0 any more";
    remember_session(555);
    EXPECT_EQ(recent_sessions[1], 555);
    EXPECT_TRUE(session_is_new(7)) << "the oldest number left the ring";
}

TEST(SessionRing, DrawsAreInRangeAndNeverRepeatWithinTheRing) {
    clear_sessions();
    std::vector<int> vistos;
    for (int i = 0; i < 250; ++i) {
        int s = new_session();
        ASSERT_GE(s, 1);
        ASSERT_LE(s, 999999);
        for (std::size_t j = vistos.size() >= 99 ? vistos.size() - 99 : 0; j < vistos.size(); ++j)
            ASSERT_NE(vistos[j], s) << "draw " << i << " repeats a number still in the ring";
        vistos.push_back(s);
    }
}

TEST(SessionSeed, DiffersBetweenProcessesAndDrawsInTheSameSecond) {
    std::set<unsigned> sementes;
    for (pid_t pid = 1000; pid < 1100; ++pid)
        sementes.insert(session_seed(1700000000, pid, 0));
    for (unsigned n = 1; n < 100; ++n)
        sementes.insert(session_seed(1700000000, 1000, n));
    for (long t = 1; t < 100; ++t)
        sementes.insert(session_seed(1700000000 + t, 1000, 0));
    EXPECT_EQ(sementes.size(), 298u);
}
