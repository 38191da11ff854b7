// bmp.h: uncompressed Windows bitmaps.
// File layout: 14-byte file header, 40-byte information header, an optional
// colour table of 4-byte entries (blue, green, red, reserved), then the pixel
// rows from the bottom of the picture up, each padded to a multiple of 4.
//
//   0 bfType "BM"   2 bfSize   10 bfOffBits   14 biSize 40   18 biWidth
//   22 biHeight     26 biPlanes 1   28 biBitCount   30..53 zero fields
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "output_file.h"

constexpr uint32_t BMP_HEADER_SIZE = 54;
constexpr uint32_t BMP_PALETTE_ENTRIES = 256;

// write_bmp flags: the layout of the caller's buffer, when it is not the file's.
constexpr uint32_t BMP_OUT_FLIP_ROWS = 0x1;      // buffer rows run top to bottom
constexpr uint32_t BMP_OUT_SWAP_RB = 0x2;        // red first (3 or more bytes per pixel)
constexpr uint32_t BMP_OUT_PACKED_ROWS = 0x4;    // rows not padded to 4 bytes
constexpr uint32_t BMP_OUT_REVERSE_BYTES = 0x8;  // palette entries and 4-byte pixels reversed

// read_bmp flags.
constexpr uint32_t BMP_IN_REJECT_8 = 0x01;
constexpr uint32_t BMP_IN_REJECT_16 = 0x02;
constexpr uint32_t BMP_IN_REJECT_24 = 0x04;
constexpr uint32_t BMP_IN_REJECT_32 = 0x08;
constexpr uint32_t BMP_IN_EXPAND_PALETTE = 0x10;  // 8-bit indices to blue, green, red

// The largest pixel buffer read_bmp hands out.
constexpr int64_t BMP_MAX_BUFFER = INT32_MAX;

// A picture in memory: bottom-up rows of `stride` bytes, pixels of
// `bytes_per_pixel` bytes (blue, green, red, alpha), `size` = height x stride.
struct PixelBuffer {
    std::unique_ptr<uint8_t[]> pixels;
    int32_t size = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    int32_t bytes_per_pixel = 0;
    int32_t stride = 0;
};

// The bytes of a BMP file in two parts: the headers with the colour table,
// and the pixel rows (the caller's own, or a converted copy held here).
struct BmpFileParts {
    uint8_t head[BMP_HEADER_SIZE + BMP_PALETTE_ENTRIES * 4];
    size_t head_size = 0;
    const uint8_t *pixels = nullptr;
    size_t pixels_size = 0;
    std::vector<uint8_t> converted;
};

// The file that write_bmp writes for these arguments, without writing it.
void build_bmp_file(const uint8_t *data, int32_t length, uint32_t width, uint32_t height, uint32_t bytes_per_pixel,
                    uint32_t palette_count, const uint8_t *palette, uint32_t flags, BmpFileParts &parts);

// Writes both parts to an open output.
bool write_bmp_parts(OutputFile &out, const BmpFileParts &parts, OutputError &error);

// Writes a BMP file: headers, a colour table at 1 byte per pixel (the grey
// ramp, with `palette_count` entries of `palette` copied over its start; all
// 256 when the count is 0), then the pixels. Without flags `length` bytes of
// `data` go to the file as they are. A file that cannot be opened or
// written ends the run (the partial file removed).
void write_bmp(const std::string &name, const uint8_t *data, int32_t length, uint32_t width,
               uint32_t height, uint32_t bytes_per_pixel, uint32_t palette_count,
               const uint8_t *palette, uint32_t flags);
void write_bmp(const std::string &name, const uint8_t *data, int32_t length, uint32_t width,
               uint32_t height, uint32_t bytes_per_pixel, uint32_t flags);

enum BmpLoadStatus {
    BMP_LOADED,
    BMP_CANNOT_OPEN,    // detail: errno
    BMP_REFUSED_DEPTH,  // detail: the file's bits per pixel
    BMP_TOO_LARGE,      // a buffer over BMP_MAX_BUFFER
};

// read_bmp without its fatal ends: the status says what went wrong.
BmpLoadStatus load_bmp(const std::string &name, PixelBuffer &picture, uint32_t flags, int &detail);

// Prints read_bmp's message for a status other than BMP_LOADED and ends the
// run with status -1.
[[noreturn]] void exit_on_bmp_load_error(const std::string &name, BmpLoadStatus status, int detail);

// Reads a BMP file into `picture` with bottom-up rows. Header fields and
// pixel bytes that a short file lacks read as zero. Ends the run on a file
// that cannot be opened, a refused depth, or a buffer over BMP_MAX_BUFFER.
void read_bmp(const std::string &name, PixelBuffer &picture, uint32_t flags);
