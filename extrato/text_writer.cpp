#include "format.h"
#include "writers.h"

namespace extrato {

std::string write_text(const Layout& layout, std::size_t columns) {
    std::string out;
    for (const Block& b : layout.blocks) {
        if (b.kind != Block::Text) continue; // the key is printed as text above its bars
        const std::size_t w = width(b.text);
        if (b.align == Align::Center && w < columns) out.append((columns - w) / 2, ' ');
        out += b.text;
        out += '\n';
    }
    return out;
}

} // namespace extrato
