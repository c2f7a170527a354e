#include "fault.h"

#include <charconv>

#include "device.h"
#include "util.h"

namespace satemu {

namespace {

bool to_long(std::string_view s, long& out) {
    if (s.empty()) return false;
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
    return ec == std::errc() && p == s.data() + s.size();
}

struct KindName {
    std::string_view name;
    FaultKind kind;
    int args; // number of numeric arguments; -1 for the verbatim text of `answer`
};

constexpr KindName kKinds[] = {
    {"delay", FaultKind::Delay, 1},
    {"hold", FaultKind::Hold, 1},
    {"drop", FaultKind::Drop, 0},
    {"ignore", FaultKind::Ignore, 0},
    {"busy", FaultKind::Busy, 0},
    {"stale", FaultKind::Stale, 0},
    {"split", FaultKind::Split, 2},
    {"noise", FaultKind::Noise, 0},
    {"etx-inside", FaultKind::EtxInside, 0},
    {"oversize", FaultKind::Oversize, 1},
    {"hangup", FaultKind::Hangup, 0},
    {"answer", FaultKind::Answer, -1},
};

// "all" or a command the device knows.
bool valid_code(std::string_view code) {
    return code == "all" || Device::row_of(code) != nullptr;
}

} // namespace

std::optional<FaultRule> parse_fault(std::string_view rule_text, std::string& error) {
    FaultRule rule;
    rule.rule_text = std::string(rule_text);
    std::string_view rest = rule_text;
    size_t star = rest.find('*');
    size_t colon = rest.find(':');
    if (star != std::string_view::npos && star < colon) {
        if (!to_long(rest.substr(0, star), rule.remaining) || rule.remaining < 1) {
            error = "bad count in '" + std::string(rule_text) + "'";
            return std::nullopt;
        }
        rest.remove_prefix(star + 1);
        colon = rest.find(':');
    }
    if (colon == std::string_view::npos) {
        error = "expected CODE:KIND in '" + std::string(rule_text) + "'";
        return std::nullopt;
    }
    rule.code = std::string(rest.substr(0, colon));
    if (!valid_code(rule.code)) {
        error = "unknown command code '" + rule.code + "'";
        return std::nullopt;
    }
    rest.remove_prefix(colon + 1);
    size_t next = rest.find(':');
    std::string_view kind = rest.substr(0, next);
    std::string_view args =
        next == std::string_view::npos ? std::string_view{} : rest.substr(next + 1);
    bool has_args = next != std::string_view::npos;
    for (const auto& k : kKinds) {
        if (k.name != kind) continue;
        rule.kind = k.kind;
        if (k.args == -1) {
            if (!has_args) {
                error = "answer needs a text";
                return std::nullopt;
            }
            rule.text = std::string(args);
            return rule;
        }
        std::vector<std::string> parts = has_args ? split(args, ':') : std::vector<std::string>{};
        if (static_cast<int>(parts.size()) != k.args) {
            error = std::string(kind) + " takes " + std::to_string(k.args) + " argument(s)";
            return std::nullopt;
        }
        long values[2] = {0, 0};
        for (size_t i = 0; i < parts.size(); ++i) {
            if (!to_long(parts[i], values[i]) || values[i] < 0) {
                error = "bad number '" + parts[i] + "' in '" + std::string(rule_text) + "'";
                return std::nullopt;
            }
        }
        if (k.kind == FaultKind::Delay || k.kind == FaultKind::Hold) rule.ms = values[0];
        if (k.kind == FaultKind::Split) {
            rule.pieces = values[0];
            rule.ms = values[1];
            if (rule.pieces < 1) {
                error = "split needs at least one piece";
                return std::nullopt;
            }
        }
        if (k.kind == FaultKind::Oversize) {
            rule.bytes = values[0];
            if (rule.bytes < 1) {
                error = "oversize needs at least one byte";
                return std::nullopt;
            }
        }
        return rule;
    }
    error = "unknown fault kind '" + std::string(kind) + "'";
    return std::nullopt;
}

FaultPlan FaultSet::take(std::string_view code) {
    FaultPlan plan;
    for (auto& r : rules_) {
        if (!r.matches(code) || r.remaining == 0) continue;
        if (r.remaining > 0) --r.remaining;
        plan.applied.push_back(r.rule_text);
        switch (r.kind) {
        case FaultKind::Delay:
            plan.delay_ms += r.ms;
            break;
        case FaultKind::Hold:
            plan.hold_ms = r.ms;
            break;
        case FaultKind::Drop:
            plan.drop = true;
            break;
        case FaultKind::Ignore:
            plan.ignore = true;
            break;
        case FaultKind::Busy:
            plan.busy = true;
            break;
        case FaultKind::Stale:
            plan.stale = true;
            break;
        case FaultKind::Split:
            plan.split_pieces = r.pieces;
            plan.split_ms = r.ms;
            break;
        case FaultKind::Noise:
            plan.noise = true;
            break;
        case FaultKind::EtxInside:
            plan.etx_inside = true;
            break;
        case FaultKind::Oversize:
            plan.oversize = r.bytes;
            break;
        case FaultKind::Hangup:
            plan.hangup = true;
            break;
        case FaultKind::Answer:
            plan.answer = r.text;
            break;
        }
    }
    std::erase_if(rules_, [](const FaultRule& r) { return r.remaining == 0; });
    return plan;
}

} // namespace satemu
