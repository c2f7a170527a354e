// The device state on disk: one "key=value" line per item, values escaped, so that
// stored answers with any bytes survive. Written to a temporary file and renamed,
// so a crash leaves either the old or the new state.
#pragma once

#include <string>

#include "device.h"

namespace satemu {

std::string serialize_state(const DeviceState& state);
// False (and the reason in `error`) when the text is not a state file.
bool parse_state(const std::string& text, DeviceState& state, std::string& error);

bool save_state(const std::string& path, const DeviceState& state, std::string& error);
// False with an empty `error` when the file does not exist yet.
bool load_state(const std::string& path, DeviceState& state, std::string& error);

} // namespace satemu
