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

// Writes a BMP file: headers, a colour table at 1 byte per pixel (the grey
// ramp, with `palette_count` entries of `palette` copied over its start; all
// 256 when the count is 0), then the pixels. Without flags `length` bytes of
// `data` go to the file as they are. An unopenable file ends the run.
void write_bmp(const std::string &name, const uint8_t *data, int32_t length, uint32_t width,
               uint32_t height, uint32_t bytes_per_pixel, uint32_t palette_count,
               const uint8_t *palette, uint32_t flags);
void write_bmp(const std::string &name, const uint8_t *data, int32_t length, uint32_t width,
               uint32_t height, uint32_t bytes_per_pixel, uint32_t flags);

// What write_bmp puts before the pixels, into `head` (BMP_MAX_HEAD_SIZE
// bytes): the headers for `image_length` bytes of pixels and, at 1 byte per
// pixel, the colour table. Of the flags only BMP_OUT_REVERSE_BYTES counts.
// Returns the number of bytes that belong to the file.
constexpr uint32_t BMP_MAX_HEAD_SIZE = BMP_HEADER_SIZE + BMP_PALETTE_ENTRIES * 4;
uint32_t build_bmp_head(uint8_t *head, uint32_t image_length, uint32_t width, uint32_t height, uint32_t bytes_per_pixel,
                        uint32_t palette_count, const uint8_t *palette, uint32_t flags);

// Reads a BMP file into `picture` with bottom-up rows. Header fields and
// pixel bytes that a short file lacks read as zero. Ends the run on a file
// that cannot be opened, a refused depth, or a buffer over BMP_MAX_BUFFER.
void read_bmp(const std::string &name, PixelBuffer &picture, uint32_t flags);
