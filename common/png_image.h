// png_image.h: PNG files in memory, to and from the kit's pixel layout.
// Lossless both ways: 8 bits per channel, RGB, RGBA or indexed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "bmp_image.h"

// A view of pixels in the kit's layout: bottom-up rows `stride` bytes apart,
// pixels of bytes_per_pixel bytes: 4 = blue, green, red, alpha (straight,
// not premultiplied); 3 = blue, green, red; 1 = an index into `palette`
// (palette_count entries of 4 bytes: blue, green, red, unused).
struct PixelView {
    const uint8_t *pixels = nullptr;
    uint32_t width = 0, height = 0, bytes_per_pixel = 0;
    size_t stride = 0;
    const uint8_t *palette = nullptr;
    uint32_t palette_count = 0;
};

// The view of a decoded picture.
PixelView picture_view(const Picture &picture);

// Row filters the encoder may use; with several, it picks for each row the
// one whose output looks smallest (by a running estimate of each byte
// value's cost once compressed). Indexed pictures are never filtered.
constexpr int PNG_FILTER_NONE = 1;
constexpr int PNG_FILTER_SUB = 2;
constexpr int PNG_FILTER_UP = 4;
constexpr int PNG_FILTER_AVERAGE = 8;
constexpr int PNG_FILTER_PAETH = 16;
constexpr int PNG_FILTER_ALL = 31;

// Compression levels, libdeflate's: 0 stores, 1 is the fastest, 12 the
// smallest.
constexpr int PNG_LEVEL_MIN = 0;
constexpr int PNG_LEVEL_MAX = 12;
constexpr int PNG_LEVEL_DEFAULT = 6;
// Up to this level the average filter is used for every row where it is allowed.
constexpr int PNG_LEVEL_ONE_FILTER = 2;

// The defaults: see README.md for what each level costs.
struct PngOptions {
    int level = PNG_LEVEL_DEFAULT;
    int filter = PNG_FILTER_SUB | PNG_FILTER_UP | PNG_FILTER_AVERAGE | PNG_FILTER_PAETH;  // PNG_FILTER_* bits
};

// The PNG file image of `view`: RGBA for 4 bytes per pixel, RGB for 3,
// indexed (PLTE) for 1. Decoding gives back exactly the same pixels. The
// PLTE has palette_count entries, or more where a pixel's index lies past
// them; those extra entries are black. Returns false with a one-line reason
// on failure.
bool encode_png(const PixelView &view, const PngOptions &options, std::vector<uint8_t> &png, std::string &error);

// Decodes a PNG file image: grey and RGB to PICTURE_RGB; RGBA, grey with
// alpha, and anything with a tRNS chunk to PICTURE_RGBA; indexed without
// tRNS to PICTURE_INDEXED, with the PLTE's entries as the palette (extended
// with black entries to cover every index the pixels use). Interlaced files
// decode too. Refuses with a short lower-case reason: "not a PNG file",
// "truncated", "bad CRC", "16-bit channels", "picture too large" (a buffer
// over BMP_MAX_BUFFER), "dimensions over the PNG limit", "zero width or
// height", "corrupt zlib stream", "image data too short", or libspng's own
// text for other damage. Every chunk's CRC is checked. Memory stays within
// the picture's size: a header's claims cost nothing until the file holds
// data enough for them (deflate expands at most 1032 times), and a zlib
// stream that goes on past the last row is not inflated further.
bool decode_png(const uint8_t *data, size_t size, Picture &out, std::string &error);
