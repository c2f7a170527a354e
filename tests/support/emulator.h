// A satemu process for one test: its own temporary folder, control socket and
// transcript. Used by the library and tool tests of both trees (the x86 tree runs
// the x64 satemu as a separate process), so nothing here depends on the emulator's code.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace testsupport {

class Emulator {
  public:
    // Starts satemu (env SATEMU overrides the compiled-in SATEMU_PATH) with `args` plus
    // "--control <tmp>/ctl.sock --transcript <tmp>/transcript.txt" in a temp dir of its own,
    // and waits (up to 5 s) for its first line "satemu: device at /dev/pts/N".
    // Fails the current test (ADD_FAILURE) when satemu does not come up; device() is then empty.
    // satemu is tied to the thread that starts it (it gets SIGTERM when that thread ends),
    // so start it from the test's own thread.
    explicit Emulator(std::vector<std::string> args = {"--preset", "active"});
    ~Emulator(); // SIGTERM, then waits for the process
    Emulator(const Emulator&) = delete;
    Emulator& operator=(const Emulator&) = delete;

    const std::string& device() const { return device_; } // "/dev/pts/N"
    // One request line -> the whole reply (without the final newline); "error: ..." when
    // the socket cannot be reached.
    std::string control(const std::string& line);
    void fault(const std::string& rule_text); // control("fault " + rule_text), must answer "ok"
    void clear_faults();                      // control("clear")
    // Every frame received so far, raw bytes, each including its final "|\x03".
    std::vector<std::string> frames();
    std::string transcript() const; // contents of the transcript file
    const std::string& dir() const { return dir_; }
    pid_t pid() const { return pid_; }

  private:
    std::string dir_;
    std::string device_;
    pid_t pid_ = -1;
    int out_fd_ = -1; // satemu's standard output
};

// "\xHH" escapes (as the control socket writes frames) back to bytes.
std::string unescape_frame(const std::string& text);

} // namespace testsupport
