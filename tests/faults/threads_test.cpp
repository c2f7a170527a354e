// Eight threads calling a mix of SAT functions at once. With the call lock on,
// the device sees one exchange at a time: in the emulator's transcript every
// frame is followed by its own answer before the next frame comes, and every
// call's frame is there. With the lock off (SetDriver), the host has to do the
// same itself: hold its own mutex around each call and copy the answer before
// letting the next call in, because every call returns the same buffer.
#include <mutex>
#include <set>
#include <thread>

#include "sat.h"
#include "satlib.h"

namespace {

constexpr int kThreads = 8;
constexpr int kCallsPerThread = 4;

int session_of(int thread, int call) {
    return 1000 + thread * 10 + call;
}

// A mix of short exchanges, chosen by the call's number.
const char* call_mixed(int session) {
    static char code[] = "12345678";
    switch (session % 4) {
    case 0:
        return ConsultarSAT(session);
    case 1:
        return ConsultarStatusOperacional(session, code);
    case 2:
        return ConsultarNumeroSessao(session, code,
                                     session); // unknown: answered with its own number
    default:
        return ExtrairLogs(session, code);
    }
}

// Frames ("<-") and answers ("->") of the transcript, in order, without the
// time stamps; notes ("--") are left out.
std::vector<std::string> exchanges(const std::string& transcript) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start < transcript.size()) {
        size_t end = transcript.find('\n', start);
        if (end == std::string::npos) end = transcript.size();
        const std::string line = transcript.substr(start, end - start);
        start = end + 1;
        for (const char* tag : {" <- ", " -> "}) {
            const size_t at = line.find(tag);
            if (at != std::string::npos && at < 30) out.push_back(line.substr(at + 1));
        }
    }
    return out;
}

// Every frame is directly followed by an answer with the frame's session
// number, and the frames carry exactly `sessions`.
void expect_one_exchange_at_a_time(const std::string& transcript, const std::set<int>& sessions) {
    const auto lines = exchanges(transcript);
    std::set<int> seen;
    for (size_t i = 0; i < lines.size(); i += 2) {
        ASSERT_EQ(lines[i].rfind("<- |", 0), 0u) << "two answers in a row at line " << i;
        ASSERT_LT(i + 1, lines.size()) << "frame without an answer: " << lines[i];
        ASSERT_EQ(lines[i + 1].rfind("-> ", 0), 0u)
            << "two frames overlapped: " << lines[i] << " / " << lines[i + 1];
        const std::string frame_session = lines[i].substr(7, 6);
        const std::string answer_session = lines[i + 1].substr(3, 6);
        EXPECT_EQ(frame_session, answer_session) << lines[i] << " / " << lines[i + 1];
        seen.insert(std::atoi(frame_session.c_str()));
    }
    EXPECT_EQ(seen, sessions) << "a frame was lost or sent twice";
    EXPECT_EQ(lines.size(), 2 * sessions.size());
}

class Threads : public ::testing::Test {
  protected:
    void SetUp() override {
        SAT_ENTER_SANDBOX(halvex);
        emu_ = std::make_unique<testsupport::Emulator>();
        ASSERT_FALSE(emu_->device().empty());
        ASSERT_TRUE(testsupport::write_file(halvex + "/sat.ini",
                                            testsupport::settings(emu_->device(), 1, 3, 5)));
        ConsultarSAT(1); // starts the library before any thread runs
        sessions_.insert(1);
    }
    std::unique_ptr<testsupport::Emulator> emu_;
    std::set<int> sessions_;
};

TEST_F(Threads, LockOnKeepsExchangesApart) {
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t] {
            // The answer is not read here: only a host's own mutex can keep another
            // thread's call from overwriting it (see the next test).
            for (int c = 0; c < kCallsPerThread; ++c)
                call_mixed(session_of(t, c));
        });
    for (auto& th : threads)
        th.join();
    for (int t = 0; t < kThreads; ++t)
        for (int c = 0; c < kCallsPerThread; ++c)
            sessions_.insert(session_of(t, c));
    expect_one_exchange_at_a_time(emu_->transcript(), sessions_);
}

TEST_F(Threads, LockOffNeedsTheHostsOwnMutex) {
    char lock[] = "LOCK", off[] = "false";
    SetDriver(lock, off);
    std::mutex host;
    std::vector<std::string> wrong;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int c = 0; c < kCallsPerThread; ++c) {
                const int s = session_of(t, c);
                std::lock_guard<std::mutex> hold(host);
                const std::string answer = call_mixed(s); // copied before the next call
                char head[16];
                std::snprintf(head, sizeof head, "%06d", s);
                if (testsupport::field(answer, 0) != head) wrong.push_back(answer);
            }
        });
    for (auto& th : threads)
        th.join();
    EXPECT_TRUE(wrong.empty()) << wrong.size() << " answers of other calls, first: " << wrong[0];
    for (int t = 0; t < kThreads; ++t)
        for (int c = 0; c < kCallsPerThread; ++c)
            sessions_.insert(session_of(t, c));
    expect_one_exchange_at_a_time(emu_->transcript(), sessions_);
}

} // namespace
