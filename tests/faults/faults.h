// Shared by the fault suites: the sixteen SAT functions as one table that can
// call each of them with the same session number, settings files with short
// deadlines, and small helpers to read answers and count descriptors.
#pragma once

#include <string>
#include <vector>

namespace faults {

constexpr const char* kCode = "12345678"; // activation code of satemu's active preset
// The emulator's line behind a symbolic link in a private /dev/shm: short enough
// for the library's 30-byte path, and found again after a hang-up.
constexpr const char* kLine = "/dev/shm/satline";
constexpr const char* kAbsent = "/dev/shm/no-device";

// How a function reacts to a failed exchange.
enum class Kind {
    Single, // one exchange, busy answer on failure
    Fiscal, // sale and cancellation: attempts with a session check
    Query,  // the two session queries: attempts, stored answers of any session
};

// Texts handed to a SAT function; empty strings are passed as they are, and
// `null` passes a null pointer in place of every text.
struct Texts {
    std::string code = kCode;
    std::string a; // first document or value
    std::string b; // second one
    bool null = false;
};

struct Function {
    const char* name;
    const char* code;   // command code, "05"
    const char* family; // first two digits of its result codes, "08"
    Kind kind;
    // Calls the function and copies its answer.
    std::string (*call)(int session, Texts& t);
};

const std::vector<Function>& functions();
const Function* function(const std::string& name);

// Default documents of a function (a sale the preset issues, a network document, ...).
Texts default_texts(const Function& f);

// The library's own busy answer of `f` for `session`.
std::string busy_answer(const Function& f, int session);

std::vector<std::string> split(const std::string& text, char sep = '|');
std::string field(const std::string& text, size_t i);

// Open descriptors of this process (/proc/self/fd).
int open_descriptors();

// sat.ini with SERIAL, attempts, pause, every deadline at `seconds` and any extra
// [DEFAULT] lines; the console stays quiet.
std::string settings(const std::string& serial, int attempts, int pause, int seconds,
                     const std::string& extra = "");

// Moves into a private mount namespace with `halvex` at /var/torvane_halvex and a
// private /dev/shm; false (with the reason) where that cannot be done. For
// SAT_ENTER_SANDBOX_WITH (sandbox.h).
bool enter_sandbox(const std::string& halvex, std::string& why);

std::string sale_document();
std::string read_source_file(const std::string& relative); // under the source tree

// Drops the capabilities that let root read and write any file (also from the
// bounding set, since root would get them back at exec otherwise), so that mode
// bits count for this single-test process and the programs it starts.
void drop_file_capabilities();

} // namespace faults
