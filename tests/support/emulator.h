// A satemu process for one test: its own temporary folder, control socket and
// transcript, and a raw terminal client. Used by the tests of both trees (the x86
// tree runs the x64 satemu as a separate process), so nothing here depends on the
// emulator's code.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace testsupport {

class Emulator {
  public:
    // Starts satemu (env SATEMU overrides the compiled-in SATEMU_PATH) with `args` plus
    // "--control <tmp>/ctl.sock --transcript <tmp>/transcript.txt" and waits (up to 5 s)
    // for its line "satemu: device at /dev/pts/N"; otherwise fails the test and device()
    // is empty. satemu gets SIGTERM when the thread that started it ends.
    explicit Emulator(std::vector<std::string> args = {"--preset", "active"});
    ~Emulator(); // SIGTERM, then waits for the process
    Emulator(const Emulator&) = delete;
    Emulator& operator=(const Emulator&) = delete;

    const std::string& device() const { return device_; } // "/dev/pts/N"
    // One request line -> the reply without its final newline ("error: ..." when the
    // socket cannot be reached).
    std::string control(const std::string& line);
    void fault(const std::string& rule_text); // must answer "ok"
    // Every frame received so far, raw bytes, each including its final "|\x03".
    std::vector<std::string> frames();
    // Command codes of the frames received ("03 08 03"), of one session when >= 0.
    std::string codes(int session = -1);
    long issued(); // fiscal documents issued (the state's counter)
    std::string transcript() const;
    const std::string& dir() const { return dir_; }

  private:
    std::string dir_;
    std::string device_;
    pid_t pid_ = -1;
    int out_fd_ = -1; // satemu's standard output
};

// The sample sale (examples/venda.xml) and a cancellation document for `key`, both
// as the active preset accepts them.
std::string sale_document();
std::string cancel_document(const std::string& key);

// "\xHH" escapes (as the control socket writes frames) back to bytes.
std::string unescape_frame(const std::string& text);

// A raw client: opens `device` the way the driver does, writes `command` + "|\x03"
// and reads until a final 0x03 (or, with `read_all`, for the whole time).
struct Reply {
    bool complete = false; // ended with 0x03 in time
    std::string text;      // every byte received
};
Reply transact(const std::string& device, const std::string& command, int timeout_ms = 3000,
               bool read_all = false);
// The answer without its final 0x03; empty when incomplete.
std::string answer(const std::string& device, const std::string& command);

} // namespace testsupport
