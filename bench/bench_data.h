// bench_data.h: the benchmark picture set (photographs and illustrations
// converted to 24-bit BMPs by make_bench_data.sh) and the masks and deltas
// made from them: figures with large transparent and opaque areas and
// antialiased edges, as a game's event pictures have.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bmp.h"

using Bytes = std::vector<uint8_t>;

struct BenchPicture {
    std::string name;        // file stem, e.g. "photo-bridge-1920x1080"
    bool illustration;       // drawn rather than photographed
    Bytes file;              // the whole 24-bit BMP file
    uint32_t width, height;
};

// The pictures in $KEGKIT_BENCH_DATA (default build/bench-data); ends the
// process with a message when there are none.
std::vector<BenchPicture> load_picture_set();

// Alpha of a figure (a union of ellipses) at (x, y) of a w x h picture, with
// a 3-pixel antialiased edge: 0 outside, 255 inside.
uint8_t figure_alpha(uint32_t x, uint32_t y, uint32_t w, uint32_t h, uint32_t seed);

// An 8-bit mask file with a grey palette whose alpha is the figure's.
Bytes make_figure_mask(uint32_t w, uint32_t h, uint32_t seed);

// A pixel buffer of `bpp` bytes per pixel from a 24-bit BMP file's pixels;
// at 4 bytes, alpha is the figure's (or 255 everywhere when opaque).
PixelBuffer pixels_from_bmp(const Bytes &file, int bpp, bool opaque, uint32_t seed,
                            uint32_t crop_w = 0, uint32_t crop_h = 0);
