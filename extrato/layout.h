// The extrato as a list of blocks, the same for every writer: text lines
// already fitted to their column count, the key's bars, QR codes, the paper feed
// and the cut. Writers only turn blocks into bytes.
#pragma once

#include <string>
#include <vector>

#include "document.h"

namespace extrato {

enum class Align { Left, Center };

struct Block {
    enum Kind { Text, Bars, Qr, Feed, Cut } kind = Text;
    std::string text; // a line of Text; the digits of Bars; the QR content
    bool bold = false;
    bool condensed = false;
    Align align = Align::Left;
    int lines = 0; // of Feed
};

struct Layout {
    std::vector<Block> blocks;
};

// Column counts of normal and condensed text; plain text uses the same for both.
struct Columns {
    std::size_t normal = 48, condensed = 64;
};

Layout make_layout(const Document& document, const Options& options, Columns columns);

// The five '|'-separated fields of a document's QR code.
std::string qr_content(const Stamp& stamp);

// The digit counts of "22,22"; empty unless they are even and add up to 44.
std::vector<int> bar_split(const std::string& split);

} // namespace extrato
