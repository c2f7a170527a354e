// Eight threads calling a mix of SAT functions at once under the call lock: the device
// sees one exchange at a time. In the emulator's transcript every frame is followed by
// its own answer, and every call's frame is there once.
#include <set>
#include <sstream>
#include <thread>

#include "sat.h"
#include "satlib.h"

namespace {

using namespace testsupport;
using Threads = LibTest;

TEST_F(Threads, CallsNeverOverlapOnTheLine) {
    emu = std::make_unique<Emulator>();
    ASSERT_FALSE(emu->device().empty());
    ASSERT_TRUE(write_file(halvex + "/sat.ini", settings(emu->device(), 1, 3, 5)));
    ConsultarSAT(1); // starts the library before any thread runs
    std::vector<std::thread> threads;
    std::set<std::string> sessions{"000001"}, seen;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([t] {
            static char code[] = "12345678";
            for (int s = 101000 + t * 10; s < 101004 + t * 10; ++s)
                s % 4 == 0   ? ConsultarSAT(s)
                : s % 4 == 1 ? ConsultarStatusOperacional(s, code)
                : s % 4 == 2 ? ConsultarNumeroSessao(s, code, s)
                             : ExtrairLogs(s, code);
        });
    for (int t = 0; t < 8; ++t)
        for (int c = 0; c < 4; ++c)
            sessions.insert(std::to_string(101000 + t * 10 + c).substr(0, 6));
    for (auto& th : threads)
        th.join();
    // Frames ("<-") and answers ("->") of the transcript in order, without time stamps.
    std::vector<std::string> lines;
    std::istringstream in(emu->transcript());
    for (std::string line; std::getline(in, line);)
        for (const char* tag : {" <- ", " -> "})
            if (line.find(tag) < 30) lines.push_back(line.substr(line.find(tag) + 1));
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

} // namespace
