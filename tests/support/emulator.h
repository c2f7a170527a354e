// A satemu process for one test, with its own temporary folder, control socket and
// transcript, and a raw terminal client. Nothing here depends on the emulator's
// code: the x86 tree runs the x64 satemu as a separate process.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace testsupport {

class Emulator {
  public:
    // Starts satemu (env SATEMU overrides SATEMU_PATH) with `args` and its control socket
    // and transcript, and waits up to 5 s for "satemu: device at /dev/pts/N"; otherwise
    // fails the test and device() is empty.
    explicit Emulator(std::vector<std::string> args = {"--preset", "active"});
    ~Emulator(); // SIGTERM, then waits
    Emulator(const Emulator&) = delete;
    Emulator& operator=(const Emulator&) = delete;

    const std::string& device() const { return device_; }
    std::string control(const std::string& line); // one request -> its reply, or "error: ..."
    void fault(const std::string& rule_text);     // must answer "ok"
    std::vector<std::string> frames();            // every frame received, raw, with "|\x03"
    std::string codes(int session = -1);          // their command codes, "03 08 03"
    long issued();                                // fiscal documents issued
    std::string transcript() const;

  private:
    std::string dir_, device_;
    pid_t pid_ = -1;
    int out_fd_ = -1; // satemu's standard output
};

// The sample sale (examples/venda.xml) and a cancellation of `key`, as the active
// preset accepts them.
std::string sale_document();
std::string cancel_document(const std::string& key);

// "\xHH" escapes (as the control socket and the transcript write bytes) back to bytes.
std::string unescape_frame(const std::string& text);

// A raw client: opens `device` as the driver does, writes `command` + "|\x03" and
// returns what it reads until a final 0x03 (or, with `read_all`, for the whole time).
std::string transact(const std::string& device, const std::string& command, int timeout_ms = 3000,
                     bool read_all = false);
// The answer without its final 0x03; empty when incomplete.
std::string answer(const std::string& device, const std::string& command);

} // namespace testsupport
