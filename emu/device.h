// The device model: its state and the answer to every command.
#pragma once

#include <cstdint>
#include <ctime>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cfe.h"
#include "frame.h"

namespace satemu {

// Data of the --preset active device, also shown by --help.
namespace preset {
inline constexpr const char* kTaxpayerCnpj = "47291583000110";
inline constexpr const char* kTaxpayerIe = "111222333444";
inline constexpr const char* kUf = "35";
inline constexpr const char* kSoftwareHouseCnpj = "08317492000155";
inline constexpr const char* kActivationCode = "12345678";
inline constexpr const char* kEmergencyCode = "87654321";
inline constexpr const char* kSerial = "900000001";
// The software house's signature of the two CNPJs (344 characters, as a real one).
extern const char* const kSignature;
} // namespace preset

inline constexpr size_t kStoredSessions = 100;
inline constexpr size_t kEventLines = 2000;

struct DeviceState {
    std::string serial = preset::kSerial;
    bool activated = false;
    std::string code;                                    // activation code
    std::string emergency_code = preset::kEmergencyCode; // for option 2 of the code change
    std::string taxpayer_cnpj;
    std::string uf;
    std::string sh_cnpj; // association: software house CNPJ
    std::string signature;
    bool blocked = false;
    std::string network;                                    // last network configuration document
    long counter = 0;                                       // number of the last CF-e issued
    std::deque<std::pair<long long, std::string>> sessions; // oldest first
    std::string last_fiscal; // stored answer of the last sale/cancellation
    SaleRecord last_sale;
    std::string first_key; // first and last key of the current list
    std::string last_key;
    std::time_t last_cfe_time = 0;
    std::time_t activation_time = 0;
    std::time_t last_contact = 0; // last contact with the tax authority (activation, sales, ...)
    std::vector<std::string> events;
    // Running counts of stores and event lines (in memory only), so that the state file
    // can append just what is new.
    uint64_t stores = 0;
    uint64_t events_logged = 0;

    bool associated() const { return !sh_cnpj.empty(); }
    const std::string* stored(long long session) const;
    // Keeps `answer` as the newest answer of `session`, dropping the oldest beyond 100.
    void store(long long session, std::string answer);
    // Appends an event line, dropping the oldest beyond kEventLines.
    void add_event(std::string line);
};

struct DeviceOptions {
    int status_wrong_code = 10001; // answer of 07 for a wrong code (some devices send 10099)
    bool unique_sessions = false;  // answer xx097 to a session number repeated among the last 100
    int cancel_answer_fields =
        12; // 11: the older firmware's cancellation answer, without CPFCNPJValue
};

class Device;

// One command the device knows: its row of the command table.
struct CommandRow {
    const char* code; // "01".."15", "20"
    int family;       // first two digits of its result codes
    bool cccc;        // its answers carry the CCCC field after the result code
    bool stored;      // it answers with a stored answer and is never stored itself
    enum Gate {
        Open,      // runs on any device
        Activated, // needs an activated device (its own code checks follow)
        Code,      // needs an activated device and the activation code
    } gate;
    int not_activated; // result (xx001 or xx002) on a device that was never activated
    std::string (Device::*run)(const Command&);
};

class Device {
  public:
    explicit Device(DeviceOptions options = {}) : options_(options) {}

    // Fills the state as a demo device: activated and associated.
    void apply_preset(const std::string& code);

    // Processes one command: changes the state, stores the answer (except for the
    // two queries of stored answers) and returns it (without the final 0x03).
    std::string handle(const Command& cmd);

    // The family's busy answer, without processing anything.
    std::string busy_answer(const Command& cmd) const;
    // Stores `answer` as the answer of the command's session, where the command's answers are
    // stored.
    void store_answer(const Command& cmd, const std::string& answer);

    DeviceState& state() { return state_; }
    const DeviceState& state() const { return state_; }

    // Called after every change of the state (the state file hooks in here).
    std::function<void()> on_change;
    // Clock and random source, replaceable by tests.
    std::function<std::time_t()> clock = [] { return std::time(nullptr); };
    std::function<long()> random_cnf;

    void log_event(const std::string& text);
    // One-line key=value summary.
    std::string summary() const;

    // The row of a command code; null for a code the device does not know.
    static const CommandRow* row_of(std::string_view code);

  private:
    std::string dispatch(const Command& cmd, const CommandRow& row);
    std::string activate(const Command& cmd);
    std::string certificate(const Command& cmd);
    std::string sale(const Command& cmd);
    std::string cancellation(const Command& cmd);
    std::string query(const Command& cmd);
    std::string end_to_end(const Command& cmd);
    std::string status(const Command& cmd);
    std::string session_query(const Command& cmd);
    std::string network(const Command& cmd);
    std::string associate(const Command& cmd);
    std::string update(const Command& cmd);
    std::string logs(const Command& cmd);
    std::string block(const Command& cmd);
    std::string unblock(const Command& cmd);
    std::string change_code(const Command& cmd);
    std::string last_fiscal(const Command& cmd);
    std::string fiscal_sale(const Command& cmd, bool test);
    // Records a contact with the tax authority now (DH_ULTIMA of the status).
    void contact();
    IssueContext context(long number);
    void changed();

    DeviceOptions options_;
    DeviceState state_;
};

// Family of a command code: 01..15 give 04..18, 20 gives 19; 0 for unknown codes.
int family_of(const std::string& code);

} // namespace satemu
