// The device state on disk.
//
// One "key=value" line per item, values escaped so that stored answers with any bytes
// survive. The file is a full snapshot followed by a journal: after every change only
// what changed is appended (a later line overrides an earlier one; sessions and event
// lines accumulate). Appending keeps a sale cheap; once the journal has grown, the
// file is rewritten as a fresh snapshot through a temporary file and a rename, so a
// crash leaves the old or the new file, never a mixture. A last line cut short by a
// crash is ignored.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "device.h"

namespace satemu {

// A full snapshot of `state`.
std::string serialize_state(const DeviceState& state);
// Reads a snapshot with any journal after it. False (and the reason in `error`) when
// the text is not a state file.
bool parse_state(const std::string& text, DeviceState& state, std::string& error);

class StateFile {
  public:
    explicit StateFile(std::string path) : path_(std::move(path)) {}
    ~StateFile();
    StateFile(const StateFile&) = delete;
    StateFile& operator=(const StateFile&) = delete;

    // False with an empty `error` when the file does not exist yet.
    bool load(DeviceState& state, std::string& error);
    // Records the changes since the last save (the first save writes a snapshot).
    bool save(const DeviceState& state, std::string& error);
    // Rewrites the whole file as a snapshot.
    bool compact(const DeviceState& state, std::string& error);

    const std::string& path() const { return path_; }

  private:
    void remember(const DeviceState& state);

    std::string path_;
    int fd_ = -1;                                // open for appending after a snapshot
    std::map<std::string, std::string> written_; // scalar lines as last written
    uint64_t stores_ = 0;
    uint64_t events_ = 0;
    size_t journal_bytes_ = 0;
    size_t snapshot_bytes_ = 0;
};

} // namespace satemu
