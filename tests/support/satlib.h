// The library's tests against satemu: the sixteen SAT functions as one table,
// settings with short deadlines, and a fixture with a sandbox and a satemu behind
// the link /dev/shm/satline.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "emulator.h"
#include "fields.h"
#include "sandbox.h"

namespace testsupport {

constexpr const char* kCode = "12345678";         // of satemu's active preset
constexpr const char* kLine = "/dev/shm/satline"; // found again after a hang-up
constexpr const char* kAbsent = "/dev/shm/no-device";

enum class Kind {
    Single, // one exchange, busy answer on failure
    Fiscal, // sale and cancellation: attempts with a session check
    Query,  // the two session queries: attempts, stored answers of any session
};

// Texts handed to a SAT function; `null` passes a null pointer for every text.
struct Texts {
    std::string code = kCode;
    std::string a, b; // first and second document or value
    bool null = false;
};

struct Function {
    const char* name;
    const char* code;   // command code, "05"
    const char* family; // first two digits of its result codes, "08"
    Kind kind;
    const char* frame; // after the session, for the texts "C", "A", "B" ("S": the session)
    const char *a, *b; // texts the active preset accepts ("<sale>": the sample sale,
                       // "<cancel>": a cancellation of the key in `a`)
    std::string (*call)(int session, Texts& t); // calls it and copies the answer
};

const std::vector<Function>& functions();
Texts default_texts(const Function& f);                  // documents the active preset accepts
std::string busy_answer(const Function& f, int session); // the library's own
int open_descriptors();
// sat.ini: `extra` [DEFAULT] lines first (the first of equal keys counts), SERIAL,
// attempts, pause, a quiet console and every deadline at `seconds`.
std::string settings(const std::string& serial, int attempts, int pause, int seconds,
                     const std::string& extra = "");
std::string set_driver(const std::string& parameter, const std::string& value);

class LibTest : public ::testing::Test {
  protected:
    void SetUp() override;
    // Starts satemu (`emu_args`, linked at kLine) and writes sat.ini with DEBUG on,
    // TMP_TENT=3 and deadlines of `seconds`; with `init` the library reads it now.
    void start(int attempts = 1, const std::string& extra = "",
               std::vector<std::string> emu_args = {"--preset", "active"}, bool init = true,
               int seconds = 2);
    std::string log() const { return read_file(halvex + "/lib_torvane_halvex.log"); }

    std::string halvex;
    std::unique_ptr<Emulator> emu;
};

} // namespace testsupport
