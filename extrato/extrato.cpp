#include "extrato.h"

#include "document.h"
#include "writers.h"

namespace extrato {

Profile paper_profile(int paper_mm) {
    Profile p;
    if (paper_mm == 58) {
        p.paper_mm = 58;
        p.dots = 384;
        p.columns = 32;
        p.condensed_columns = 42;
    }
    return p;
}

Result render(std::string_view document, std::string_view sale, Format format,
              const Options& options) {
    Result r;
    Parsed parsed = parse(document, sale);
    if (parsed.error != Error::None) {
        r.error = parsed.error;
        r.message = std::move(parsed.message);
        return r;
    }
    const Profile& p = options.profile;
    if (format == Format::Text) {
        const std::size_t cols = static_cast<std::size_t>(p.columns);
        r.bytes = write_text(make_layout(parsed.document, options, {cols, cols}), cols);
        return r;
    }
    const Layout layout = make_layout(
        parsed.document, options,
        {static_cast<std::size_t>(p.columns), static_cast<std::size_t>(p.condensed_columns)});
    if (format == Format::EscPos) {
        r.bytes = write_escpos(layout, p);
    } else if (!write_image(layout, p, format, r.bytes)) {
        r.error = Error::Render;
        r.message = "cairo could not draw the extrato";
        r.bytes.clear();
    }
    return r;
}

} // namespace extrato
