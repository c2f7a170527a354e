#include <cairo-pdf.h>
#include <cairo.h>

#include <map>

#include "format.h"
#include "symbols.h"
#include "writers.h"

namespace extrato {

namespace {

// A thermal head prints 8 dots per mm (203 dpi): the image uses the same dots,
// and the PDF draws them at 72/203 of a point each.
constexpr double kDotsPerMm = 8.0;
constexpr int kNormalLine = 30, kCondensedLine = 22, kQuietModules = 4, kGap = 6;

struct Page {
    const Profile& p;
    int width;                               // the whole paper
    int margin;                              // left of the printable dots
    std::map<std::string, QrMatrix> qr = {}; // each QR code is encoded once

    const QrMatrix& matrix(const std::string& content) {
        auto it = qr.find(content);
        if (it == qr.end()) it = qr.emplace(content, qr_matrix(content)).first;
        return it->second;
    }

    int advance(const Block& b) {
        switch (b.kind) {
        case Block::Text:
            return b.condensed ? kCondensedLine : kNormalLine;
        case Block::Bars:
            // A white gap under every bar, so that a reader never takes the two
            // halves of the key for one symbol.
            return p.bar_height + kGap;
        case Block::Qr:
            return kGap * 2 + (matrix(b.text).width + 2 * kQuietModules) * p.qr_module;
        case Block::Feed:
            return kNormalLine;
        case Block::Cut:
            return 0;
        }
        return 0;
    }
};

// Font size whose monospaced advance is `dots` wide.
void font(cairo_t* cr, bool bold, double dots) {
    cairo_select_font_face(cr, "DejaVu Sans Mono", CAIRO_FONT_SLANT_NORMAL,
                           bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, 100);
    cairo_text_extents_t e;
    cairo_text_extents(cr, "0", &e);
    cairo_set_font_size(cr, e.x_advance > 0 ? 100 * dots / e.x_advance : dots);
}

// A PNG is an 8-bit grey image: an A8 surface whose alpha is written as the
// grey level, so the paper is full alpha and the ink clears it (a grey PNG takes
// a fifth of the time and room of a colour one). A PDF draws black on white.
void draw(cairo_t* cr, const Layout& layout, Page& page, bool grey) {
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    cairo_set_source_rgb(cr, 0, 0, 0);
    if (grey) cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
    const Profile& p = page.p;
    double y = kGap;
    int style = -1; // the font is chosen again only when the style changes
    for (const Block& b : layout.blocks) {
        const int h = page.advance(b);
        if (b.kind == Block::Text) {
            const double cell = double(p.dots) / (b.condensed ? p.condensed_columns : p.columns);
            if (style != b.bold * 2 + b.condensed) font(cr, b.bold, cell);
            style = b.bold * 2 + b.condensed;
            const double w = cell * width(b.text);
            const double x = page.margin + (b.align == Align::Center ? (p.dots - w) / 2 : 0);
            cairo_move_to(cr, x, y + h * 0.75);
            cairo_show_text(cr, b.text.c_str());
        } else if (b.kind == Block::Bars) {
            const std::vector<unsigned char> modules = code128_modules(b.text);
            double x = page.margin + (p.dots - double(modules.size()) * p.bar_module) / 2;
            for (unsigned char m : modules) {
                if (m) cairo_rectangle(cr, x, y, p.bar_module, p.bar_height);
                x += p.bar_module;
            }
            cairo_fill(cr);
        } else if (b.kind == Block::Qr) {
            const QrMatrix& m = page.matrix(b.text);
            const double x0 = page.margin + (p.dots - double(m.width) * p.qr_module) / 2;
            const double y0 = y + kGap + kQuietModules * p.qr_module;
            for (int r = 0; r < m.width; ++r)
                for (int c = 0; c < m.width; ++c)
                    if (m.dark[std::size_t(r) * m.width + c])
                        cairo_rectangle(cr, x0 + c * p.qr_module, y0 + r * p.qr_module, p.qr_module,
                                        p.qr_module);
            cairo_fill(cr);
        }
        y += h;
    }
}

cairo_status_t append(void* closure, const unsigned char* data, unsigned int size) {
    static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), size);
    return CAIRO_STATUS_SUCCESS;
}

} // namespace

bool write_image(const Layout& layout, const Profile& p, Format format, std::string& out) {
    const int paper = static_cast<int>(p.paper_mm * kDotsPerMm + 0.5);
    Page page{p, std::max(paper, p.dots), std::max(0, (paper - p.dots) / 2)};
    int height = 2 * kGap;
    for (const Block& b : layout.blocks)
        height += page.advance(b);

    out.clear();
    cairo_surface_t* surface =
        format == Format::Pdf ? cairo_pdf_surface_create_for_stream(
                                    append, &out, page.width * 72.0 / 203.2, height * 72.0 / 203.2)
                              : cairo_image_surface_create(CAIRO_FORMAT_A8, page.width, height);
    cairo_t* cr = cairo_create(surface);
    if (format == Format::Pdf) cairo_scale(cr, 72.0 / 203.2, 72.0 / 203.2);
    draw(cr, layout, page, format == Format::Png);
    cairo_status_t status = cairo_status(cr);
    cairo_destroy(cr);
    if (status == CAIRO_STATUS_SUCCESS && format == Format::Png)
        status = cairo_surface_write_to_png_stream(surface, append, &out);
    cairo_surface_finish(surface);
    if (status == CAIRO_STATUS_SUCCESS) status = cairo_surface_status(surface);
    cairo_surface_destroy(surface);
    return status == CAIRO_STATUS_SUCCESS;
}

} // namespace extrato
