// Helpers of the benchmark program: clocks and statistics, a satemu process,
// a plain client of a pseudo-terminal, child processes with their resource
// usage, resident memory, and a private mount namespace for satcli's settings.
#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace bench {

// Monotonic time in seconds.
double now();
// CPU time (user + system) of this process so far, in seconds.
double cpu_self();

double median(std::vector<double> v);

// A satemu process on its own pseudo-terminal, with a control socket in `dir`.
class Emulator {
  public:
    Emulator(const std::string& satemu, const std::string& dir, std::vector<std::string> args);
    ~Emulator(); // SIGTERM, then reaps it
    Emulator(const Emulator&) = delete;
    Emulator& operator=(const Emulator&) = delete;

    bool ok() const { return !device_.empty(); }
    const std::string& device() const { return device_; }
    // Sends one request line; true when satemu answers "ok".
    bool control(const std::string& line, std::string* reply = nullptr);

  private:
    pid_t pid_ = -1;
    std::string device_;
    std::string socket_;
};

// Ends every Emulator still running (for a figure that gives up with exit()).
void stop_emulators();

// A plain client of the device line: raw mode, whole writes, reads until 0x03.
class RawLine {
  public:
    explicit RawLine(const std::string& device);
    ~RawLine();
    RawLine(const RawLine&) = delete;
    RawLine& operator=(const RawLine&) = delete;

    bool ok() const { return fd_ >= 0; }
    // Writes every byte of `frame` (write-all: short writes go on where they stopped).
    bool write_all(std::string_view frame);
    // Reads into `buf` until the last byte read is 0x03 or `timeout_s` passes.
    // Returns the bytes read (0x03 included) or -1; `first_byte`, when given,
    // receives the time (now()) at which the first bytes were read.
    long read_answer(char* buf, std::size_t cap, double timeout_s = 30.0,
                     double* first_byte = nullptr);

  private:
    int fd_ = -1;
};

// "|CC|SSSSSS|fields...|" + 0x7C 0x03, as the driver frames a command.
std::string frame(std::string_view command);

// Runs `argv` in `cwd` (empty: this folder) with stdout and stderr to `out_file`
// (empty: /dev/null) and returns its exit status; `usage` gets its resource use.
int run(const std::vector<std::string>& argv, const std::string& cwd, const std::string& out_file,
        rusage* usage, double* seconds = nullptr);

// Resident memory of this process: current (VmRSS) and peak (VmHWM), in KiB.
long rss_kib();
long peak_rss_kib();

// A private mount namespace in which `dir` is mounted at /var/torvane_halvex
// (over a private /var when the machine has no such folder). False with the
// reason in `why` when no namespace can be made.
bool enter_halvex(const std::string& dir, std::string& why);
// A private mount namespace with an empty tmpfs on /run/lock, so that the
// library's device lock files never reach the machine's folder. False (and
// why) where no namespace can be made.
bool private_run_lock(std::string& why);

std::string temp_dir(const char* tag);
void remove_tree(const std::string& dir);
bool write_file(const std::string& path, std::string_view data);
std::string read_file(const std::string& path);

// Deterministic pseudo-random bytes.
std::string random_bytes(std::size_t n, std::uint32_t seed);

} // namespace bench
