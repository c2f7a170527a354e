// Frames on the device line: a command text followed by 0x7C 0x03.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace satemu {

inline constexpr char kEtx = '\x03';
// Larger than any command the driver can build (its command buffer is 1.5 MiB).
inline constexpr size_t kMaxFrame = 4u << 20;

// Cuts the byte stream from the driver into frames. A frame ends at a 0x03 that
// directly follows a 0x7C; a 0x03 anywhere else is ordinary content. Bytes may
// arrive in any pieces and several frames may arrive in one piece.
class FrameAssembler {
  public:
    // Appends `bytes` and moves every completed frame (terminator included) to `out`.
    void feed(std::string_view bytes, std::vector<std::string>& out);
    // Bytes of an incomplete frame still waiting for their terminator.
    size_t pending() const { return buf_.size(); }
    // Frames longer than kMaxFrame are thrown away; this counts them.
    size_t discarded() const { return discarded_; }
    void reset() { buf_.clear(); }

  private:
    std::string buf_;
    size_t discarded_ = 0;
    bool overflow_ = false;
};

// One command as the device reads it: "|CC|SSSSSS|field|field...".
struct Command {
    std::string code;         // two digits, "01".."15", "20"
    std::string session_text; // digits as received
    long long session = 0;
    std::vector<std::string> fields; // everything after the session number

    // The session number as the device writes it at the head of its answers.
    std::string session_field() const;
    // Field i, or empty when the command has fewer fields.
    const std::string& field(size_t i) const;
};

// Parses a whole frame (with or without its final "|\x03"); nullopt when it is not a command.
std::optional<Command> parse_command(std::string_view frame);

// As parse_command, but skips stray bytes in front of the command (the rest of a frame
// that the driver gave up writing): the command starts at the first '|' from which the
// text parses.
std::optional<Command> find_command(std::string_view frame);

// Zero-padded to six digits, longer numbers in full (as the driver writes them).
std::string format_session(long long session);

} // namespace satemu
