// The extrato: the printed receipt of a CF-e (a sale) or of a CFeCanc (a
// cancellation, printed together with the sale it cancels).
//
// One call turns the documents, as text, into the bytes of one output format:
// plain text, ESC/POS for a thermal printer, PNG or PDF. The input may be the
// CF-e XML, its base64 text, the answer of EnviarDadosVenda or
// CancelarUltimaVenda, or a whole satcli output. Nothing is kept between calls
// and the call never throws; it may run in several threads at once.
#pragma once

#include <string>
#include <string_view>

namespace extrato {

enum class Format { Text, EscPos, Png, Pdf };
enum class CodePage { Cp860, Cp850, Ascii };
enum class PaymentLabels { Short, Long };

// What a printer can do and how wide its paper is. paper_profile() fills it for
// 80 and 58 mm paper; every field may be changed afterwards.
struct Profile {
    int paper_mm = 80;
    int dots = 576;                  // printable width at 8 dots per mm
    int columns = 48;                // normal text (Font A)
    int condensed_columns = 64;      // Font B
    int qr_module = 4;               // dots per QR module
    int bar_module = 2;              // dots per narrow Code 128 bar
    int bar_height = 56;             // dots
    std::string bar_split = "22,22"; // even digit counts adding up to 44
    bool raster = false; // QR and bars as GS v 0 images instead of the printer's commands
    bool cutter = true;
    CodePage code_page = CodePage::Cp860;
};

// The profile of 80 mm (48/64 columns) or 58 mm (32/42 columns) paper; other
// widths get the 80 mm figures.
Profile paper_profile(int paper_mm);

struct Options {
    Profile profile;
    bool summary = false;  // no legend, item lines or item-tax footnote
    bool im_always = true; // print "IM: " even when the emitter has none
    PaymentLabels payment_labels = PaymentLabels::Short;
    std::string app = "De Olho Na Nota"; // named in the message under the QR code
    std::string footer;                  // an optional last line of the shop's own
};

// Why a call gave no output. The values are satprint's exit statuses.
enum class Error {
    None = 0,
    NotCfe = 3,         // no CF-e or CFeCanc in the text
    BadBase64 = 4,      // the document's base64 text is broken
    MissingElement = 5, // an element the extrato needs is absent or malformed
    NoSale = 6,         // a cancellation without its sale, or with another sale
    Render = 8,         // the image library failed
};

struct Result {
    Error error = Error::None;
    std::string message; // what is wrong, for a person; empty on success
    std::string bytes;   // the whole output; empty on error
};

// The sale that a cancellation cancels: its chCanc ("CFe" + 44 digits), read from
// any accepted form of the CFeCanc. Empty for a sale or for a text that is neither.
std::string cancelled_key(std::string_view document);

// Renders the extrato of `document`. For a cancellation `sale` holds the sale
// it cancels (the two may also come in the other order); otherwise it is empty.
Result render(std::string_view document, std::string_view sale, Format format,
              const Options& options);

} // namespace extrato
