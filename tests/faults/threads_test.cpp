// Eight threads calling a mix of SAT functions at once. With the call lock on, the
// device sees one exchange at a time: in the emulator's transcript every frame is
// followed by its own answer, and every call's frame is there once. With the lock
// off (SetDriver), a host must hold its own mutex around each call and copy the
// answer before the next call, because every call returns the same buffer.
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

#include "sat.h"
#include "satlib.h"

namespace {

using namespace testsupport;

class Threads : public LibTest, public ::testing::WithParamInterface<bool> {};

TEST_P(Threads, CallsNeverOverlapOnTheLine) {
    const bool lock_on = GetParam();
    emu = std::make_unique<Emulator>();
    ASSERT_FALSE(emu->device().empty());
    ASSERT_TRUE(write_file(halvex + "/sat.ini", settings(emu->device(), 1, 3, 5)));
    ConsultarSAT(1); // starts the library before any thread runs
    if (!lock_on) set_driver("LOCK", "false");
    std::mutex host;
    std::vector<std::string> wrong;
    std::vector<std::thread> threads;
    std::set<std::string> sessions{"000001"};
    for (int t = 0; t < 8; ++t)
        for (int c = 0; c < 4; ++c)
            sessions.insert(std::to_string(101000 + t * 10 + c).substr(0, 6));
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&, t] {
            for (int c = 0; c < 4; ++c) {
                static char code[] = "12345678";
                const int s = 101000 + t * 10 + c;
                std::unique_lock<std::mutex> hold(host, std::defer_lock);
                if (!lock_on) hold.lock();
                // With the lock on the answer is not read: only a host's mutex keeps
                // another thread's call from overwriting it.
                const char* answer = s % 4 == 0   ? ConsultarSAT(s)
                                     : s % 4 == 1 ? ConsultarStatusOperacional(s, code)
                                     : s % 4 == 2 ? ConsultarNumeroSessao(s, code, s)
                                                  : ExtrairLogs(s, code);
                if (!lock_on && field(answer, 0) != std::to_string(s)) wrong.push_back(answer);
            }
        });
    for (auto& th : threads)
        th.join();
    EXPECT_TRUE(wrong.empty()) << wrong.size() << " answers of other calls";
    // Frames ("<-") and answers ("->") of the transcript in order, without time stamps.
    std::vector<std::string> lines;
    std::istringstream in(emu->transcript());
    for (std::string line; std::getline(in, line);)
        for (const char* tag : {" <- ", " -> "})
            if (line.find(tag) < 30) lines.push_back(line.substr(line.find(tag) + 1));
    std::set<std::string> seen;
    ASSERT_EQ(lines.size(), 2 * sessions.size()) << "a frame was lost or sent twice";
    for (size_t i = 0; i < lines.size(); i += 2) {
        ASSERT_EQ(lines[i].rfind("<- |", 0), 0u) << "two answers in a row at line " << i;
        ASSERT_EQ(lines[i + 1].rfind("-> ", 0), 0u)
            << "overlap: " << lines[i] << " / " << lines[i + 1];
        EXPECT_EQ(lines[i].substr(7, 6), lines[i + 1].substr(3, 6)) << lines[i];
        seen.insert(lines[i].substr(7, 6));
    }
    EXPECT_EQ(seen, sessions);
}

INSTANTIATE_TEST_SUITE_P(Lock, Threads, ::testing::Bool(),
                         [](const auto& p) { return p.param ? "On" : "OffWithHostMutex"; });

} // namespace
