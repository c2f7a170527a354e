// Fault rules: misbehaviour injected on chosen commands, as real devices show it.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace satemu {

enum class FaultKind {
    Delay,     // answer after `ms`
    Hold,      // keep the answer until the next frame's answer, `ms` before it
    Drop,      // process, but send nothing
    Ignore,    // neither process nor answer
    Busy,      // answer the family's 098 code without processing
    Stale,     // an answer with another session number first
    Split,     // the answer in `pieces` pieces, `ms` apart
    Noise,     // stray bytes around the answer
    EtxInside, // a 0x03 inside the answer text
    Oversize,  // an answer of `bytes` bytes
    Hangup,    // pull the cable in the middle of the answer
    Answer,    // send `text` instead of the model's answer
};

struct FaultRule {
    std::string code; // "01".."20" or "all"
    FaultKind kind = FaultKind::Drop;
    long remaining = -1; // frames still to hit; -1 for every frame
    long ms = 0;
    long pieces = 0;
    long bytes = 0;
    std::string text;
    std::string rule_text; // as written, for listings

    bool matches(std::string_view command_code) const {
        return code == "all" || code == command_code;
    }
};

// Parses "[N*]CODE:KIND[:ARG...]"; on failure returns nullopt and the reason in `error`.
std::optional<FaultRule> parse_fault(std::string_view rule_text, std::string& error);

// What the matching rules make of one frame.
struct FaultPlan {
    bool ignore = false;
    bool drop = false;
    bool busy = false;
    bool stale = false;
    bool noise = false;
    bool etx_inside = false;
    bool hangup = false;
    long delay_ms = 0;
    long hold_ms = -1; // >= 0: held for the next answer, that many ms before it
    long split_pieces = 0;
    long split_ms = 0;
    long oversize = 0;
    std::optional<std::string> answer;
    std::vector<std::string> applied; // the rules that took part, as written
};

class FaultSet {
  public:
    void add(FaultRule rule) { rules_.push_back(std::move(rule)); }
    void clear() { rules_.clear(); }
    size_t size() const { return rules_.size(); }
    const std::vector<FaultRule>& rules() const { return rules_; }
    // Collects every rule that matches `code`, spends one use of each counted rule,
    // and removes the rules that are used up.
    FaultPlan take(std::string_view code);

  private:
    std::vector<FaultRule> rules_;
};

} // namespace satemu
