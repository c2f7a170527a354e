// Reads ESC/POS bytes back: the text lines, the QR contents, the Code 128
// digits and the raster images. Only the commands the extrato uses are known;
// anything else, or a command with a value out of range, stops the decoding
// with an error naming the byte offset.
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct RasterImage {
    int bytes_per_row = 0, rows = 0;
    std::string bits; // GS v 0 data: 1 is a dark dot, leftmost in the high bit
};

struct EscPosPrint {
    std::vector<std::string> lines;
    std::vector<std::string> bold_lines; // those printed in bold (ESC E 1)
    std::vector<std::string> qr_codes;
    std::vector<std::string> bars;
    std::vector<RasterImage> images;
    int cuts = 0;
    std::string error; // empty when every byte was understood
};

EscPosPrint decode_escpos(std::string_view bytes);
