#include "symbols.h"

#include <qrencode.h>
#include <zint.h>

namespace extrato {

QrMatrix qr_matrix(const std::string& content) {
    QrMatrix m;
    QRcode* qr =
        QRcode_encodeData(static_cast<int>(content.size()),
                          reinterpret_cast<const unsigned char*>(content.data()), 0, QR_ECLEVEL_L);
    if (!qr) return m;
    m.width = qr->width;
    m.dark.resize(static_cast<std::size_t>(qr->width) * qr->width);
    for (std::size_t i = 0; i < m.dark.size(); ++i)
        m.dark[i] = qr->data[i] & 1;
    QRcode_free(qr);
    return m;
}

std::vector<unsigned char> code128_modules(const std::string& digits) {
    std::vector<unsigned char> modules;
    zint_symbol* symbol = ZBarcode_Create();
    if (!symbol) return modules;
    symbol->symbology = BARCODE_CODE128;
    symbol->show_hrt = 0;
    symbol->height = 1;
    symbol->scale = 0.5f; // one pixel per module
    symbol->output_options = BARCODE_NO_QUIET_ZONES;
    const int r =
        ZBarcode_Encode_and_Buffer(symbol, reinterpret_cast<const unsigned char*>(digits.data()),
                                   static_cast<int>(digits.size()), 0);
    if (r < ZINT_ERROR && symbol->bitmap && symbol->bitmap_width > 0) {
        modules.resize(symbol->bitmap_width);
        // The first row of the RGB bitmap: black modules have a dark red channel.
        for (int x = 0; x < symbol->bitmap_width; ++x)
            modules[x] = symbol->bitmap[3 * x] < 128;
    }
    ZBarcode_Delete(symbol);
    return modules;
}

} // namespace extrato
