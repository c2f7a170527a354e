// The two symbols of an extrato, from their libraries: the QR code
// (libqrencode, level L) and the Code 128 of the key's digits (zint).
#pragma once

#include <string>
#include <vector>

namespace extrato {

// A square of modules, row by row, 1 for dark; width 0 when encoding failed.
struct QrMatrix {
    int width = 0;
    std::vector<unsigned char> dark;
};
QrMatrix qr_matrix(const std::string& content);

// The modules of one bar code, left to right, 1 for a dark module, without
// quiet zones; empty when encoding failed.
std::vector<unsigned char> code128_modules(const std::string& digits);

} // namespace extrato
