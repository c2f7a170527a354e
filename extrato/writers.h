// The writers: one layout to the bytes of one format.
#pragma once

#include <string>

#include "layout.h"

namespace extrato {

std::string write_text(const Layout& layout, std::size_t columns);
std::string write_escpos(const Layout& layout, const Profile& profile);
// Png or Pdf; false when cairo fails.
bool write_image(const Layout& layout, const Profile& profile, Format format, std::string& out);

// UTF-8 text in a printer code page; characters the page lacks lose their
// accents, and what has no plain letter becomes '?'.
std::string encode(std::string_view utf8, CodePage page);

} // namespace extrato
