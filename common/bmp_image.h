// bmp_image.h: pictures as records in memory, and whole BMP file images in
// memory for the conversions to and from PNG. Unlike read_bmp, the parser is
// strict: it takes only files it can convert without loss and says why not.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "bmp.h"

enum PictureKind {
    PICTURE_RGB,      // 3 bytes per pixel: blue, green, red
    PICTURE_RGBA,     // 4 bytes per pixel: blue, green, red, alpha (straight)
    PICTURE_INDEXED,  // 1 byte per pixel: an index into `palette`
};

// A decoded picture: bottom-up rows, stride padded to 4 bytes with zeros.
struct Picture {
    PixelBuffer buffer;
    PictureKind kind = PICTURE_RGB;
    uint8_t palette[BMP_PALETTE_ENTRIES * 4] = {};  // PICTURE_INDEXED: blue, green, red, 0
    uint32_t palette_count = 0;                     // entries that count; the rest are zero
};

// Takes a whole BMP file image as a picture if it converts without loss:
// "BM", an information header of 40 bytes or more, 1 plane, no compression
// (BI_RGB), 8, 24 or 32 bits per pixel (indexed, RGB, RGBA), width > 0,
// height != 0 (negative: rows stored top-down, returned bottom-up), all rows
// inside the file; at 8 bits the colour table's biClrUsed entries (256 when
// 0) as far as the file holds them before the pixels. Otherwise returns
// false with a short lower-case reason ("compressed BMP", "16-bit BMP",
// "shorter than its rows", "not a BMP file", ...).
bool decode_bmp_image(const uint8_t *file, size_t size, Picture &out, std::string &error);

// The BMP file that write_bmp writes for `picture`: 24 bits for RGB, 32 for
// RGBA, 8 with the picture's palette_count entries for INDEXED (all 256 when
// the count is 0).
void encode_bmp_image(const Picture &picture, std::vector<uint8_t> &file);
