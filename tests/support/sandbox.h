// A private sandbox for tests that touch the library's fixed paths, and small file
// and process helpers. The library reads /var/torvane_halvex/sat.ini and logs there;
// a test must never change the machine's real folder, so it enters a private mount
// namespace with a temporary folder of its own at that path, another at /dev/shm
// (where the tests link the emulator's line) and a tmpfs on /run/lock (the library's
// device lock files).
#pragma once

#include <string>
#include <vector>

namespace testsupport {

// A fresh folder under $TMPDIR (or /tmp), left behind as evidence.
std::string make_temp_dir(const char* tag = "sat");

// A private mount namespace (a user namespace too when not root) with "/" private;
// false and the reason in `why` where none can be made. Call before any thread starts.
bool enter_private_mounts(std::string& why);
bool mount_tmpfs(const std::string& dir, const char* size, std::string& why);
bool bind_mount(const std::string& source, const std::string& target, std::string& why,
                bool read_only = false);
// Private mounts with `dir` at /var/torvane_halvex and an empty /run/lock.
bool enter_halvex_sandbox(const std::string& dir, std::string& why);
// The same plus `dir`/shm at /dev/shm.
bool enter_device_sandbox(const std::string& dir, std::string& why);

bool write_file(const std::string& path, const std::string& text);
std::string read_file(const std::string& path); // empty when missing

struct Run {
    int status = -1; // exit status; -1 when it did not exit normally
    std::string out, err;
};
// Runs `argv` in `dir` with stdin from /dev/null and `env` ("NAME=value") added.
Run run_program(const std::vector<std::string>& argv, const std::string& dir,
                const std::vector<std::string>& env = {});
// The argument list that runs this tree's `program` with `args`: directly, or through
// the tree's emulator (qemu-i386 -L /) where the x86 tree runs its programs that way.
std::vector<std::string> launch_args(const std::string& program,
                                     const std::vector<std::string>& args = {});

} // namespace testsupport

// Skips the test with a clear message where no private namespace can be made;
// otherwise `halvex` names the folder now mounted at /var/torvane_halvex.
#define SAT_ENTER_SANDBOX(halvex)                                                                  \
    std::string halvex = testsupport::make_temp_dir("halvex");                                     \
    do {                                                                                           \
        std::string sandbox_why_;                                                                  \
        if (!testsupport::enter_device_sandbox(halvex, sandbox_why_))                              \
            GTEST_SKIP() << "no private mount namespace: " << sandbox_why_;                        \
    } while (0)
