// bmp_writer.cpp: write_bmp and the headers it writes, with the grey-ramp
// colour table and the conversions that the BMP_OUT_* flags ask for.
#include <cstring>
#include <vector>

#include "bmp.h"
#include "byte_order.h"
#include "file_util.h"
#include "platform.h"

namespace {

void fill_headers(uint8_t *h, uint32_t palette_length, uint32_t image_length, uint32_t width,
                  uint32_t height, uint32_t bytes_per_pixel) {
    std::memset(h, 0, BMP_HEADER_SIZE);
    h[0] = 'B';
    h[1] = 'M';
    write_le32(h + 2, BMP_HEADER_SIZE + palette_length + image_length);
    write_le32(h + 10, BMP_HEADER_SIZE + palette_length);
    write_le32(h + 14, 40);
    write_le32(h + 18, width);
    write_le32(h + 22, height);
    write_le16(h + 26, 1);
    write_le16(h + 28, static_cast<uint16_t>(bytes_per_pixel * 8));
}

// The file's rows from a buffer laid out as the flags say.
std::vector<uint8_t> convert_rows(const uint8_t *data, uint32_t width, uint32_t height,
                                  uint32_t bytes_per_pixel, uint32_t flags, bool swap_rb) {
    const uint64_t row_bytes = uint64_t{width} * bytes_per_pixel;
    const uint64_t stride = (row_bytes + 3) & ~uint64_t{3};
    const uint64_t pitch = (flags & BMP_OUT_PACKED_ROWS) ? row_bytes : stride;
    std::vector<uint8_t> copy(static_cast<size_t>(stride * height));  // padding stays zero
    for (uint64_t k = 0; k < height && stride > 0; ++k) {
        const uint64_t target = (flags & BMP_OUT_FLIP_ROWS) ? height - 1 - k : k;
        uint8_t *row = copy.data() + target * stride;
        if (row_bytes) std::memcpy(row, data + k * pitch, static_cast<size_t>(row_bytes));
        // Byte reversal is defined on whole 4-byte pixels only.
        if ((flags & BMP_OUT_REVERSE_BYTES) && bytes_per_pixel == 4) {
            for (uint64_t x = 0; x < width; ++x) {
                uint8_t *p = row + x * 4;
                std::swap(p[0], p[3]);
                std::swap(p[1], p[2]);
            }
        }
        if (swap_rb) {
            for (uint64_t x = 0; x < width; ++x) std::swap(row[x * bytes_per_pixel], row[x * bytes_per_pixel + 2]);
        }
    }
    return copy;
}

}  // namespace

uint32_t build_bmp_head(uint8_t *head, uint32_t image_length, uint32_t width, uint32_t height, uint32_t bytes_per_pixel,
                        uint32_t palette_count, const uint8_t *palette, uint32_t flags) {
    uint8_t *table = head + BMP_HEADER_SIZE;
    for (uint32_t i = 0; i < BMP_PALETTE_ENTRIES; ++i) {
        table[i * 4 + 0] = table[i * 4 + 1] = table[i * 4 + 2] = static_cast<uint8_t>(i);
        table[i * 4 + 3] = 0;
    }
    uint32_t palette_length = 0;
    if (bytes_per_pixel == 1) {
        const uint32_t entries =
            (palette_count == 0 || palette_count > BMP_PALETTE_ENTRIES) ? BMP_PALETTE_ENTRIES : palette_count;
        palette_length = entries * 4;
        if (palette) std::memcpy(table, palette, palette_length);
    }
    if (flags & BMP_OUT_REVERSE_BYTES) {
        for (uint32_t i = 0; i < BMP_PALETTE_ENTRIES; ++i) {
            std::swap(table[i * 4 + 0], table[i * 4 + 3]);
            std::swap(table[i * 4 + 1], table[i * 4 + 2]);
        }
    }
    fill_headers(head, palette_length, image_length, width, height, bytes_per_pixel);
    return BMP_HEADER_SIZE + palette_length;
}

void write_bmp(const std::string &name, const uint8_t *data, int32_t length, uint32_t width,
               uint32_t height, uint32_t bytes_per_pixel, uint32_t palette_count,
               const uint8_t *palette, uint32_t flags) {
    const bool swap_rb = (flags & BMP_OUT_SWAP_RB) && bytes_per_pixel >= 3;
    const bool convert =
        (flags & (BMP_OUT_FLIP_ROWS | BMP_OUT_PACKED_ROWS | BMP_OUT_REVERSE_BYTES)) || swap_rb;

    std::vector<uint8_t> copy;
    const uint8_t *pixels = data;
    size_t image_length = length > 0 ? static_cast<size_t>(length) : 0;
    if (convert) {
        copy = convert_rows(data, width, height, bytes_per_pixel, flags, swap_rb);
        pixels = copy.data();
        image_length = copy.size();
    }
    // A negative length is written as nothing but still enters bfSize as given.
    const uint32_t header_image_length = convert ? static_cast<uint32_t>(image_length) : static_cast<uint32_t>(length);
    // Headers and colour table go out as one block.
    uint8_t head[BMP_MAX_HEAD_SIZE];
    const uint32_t head_length =
        build_bmp_head(head, header_image_length, width, height, bytes_per_pixel, palette_count, palette, flags);

    const ScopedFile file(open_file_or_exit(name, OPEN_WRITE_FLAGS, OPEN_WRITE_MODE));
    platform_write(file.fd, head, head_length);
    if (image_length) platform_write(file.fd, pixels, image_length);
}

void write_bmp(const std::string &name, const uint8_t *data, int32_t length, uint32_t width,
               uint32_t height, uint32_t bytes_per_pixel, uint32_t flags) {
    write_bmp(name, data, length, width, height, bytes_per_pixel, 0, nullptr, flags);
}
