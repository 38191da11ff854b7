// mask_compose.cpp: compose_with_mask. Stored row r of the picture pairs
// with stored row r of the mask, column c with column c; the mask's height
// is never consulted and its width only sets its row length.
#include "mask_compose.h"

#include <cstdint>
#include <memory>

#include "bmp.h"
#include "byte_order.h"

namespace {

constexpr size_t MASK_FIELDS_END = 22;     // through biWidth
constexpr size_t MASK_PALETTE_RED = 56;    // red byte of palette entry 0

// Alpha for each palette index; entries beyond the mask's bytes are opaque.
void build_alpha_table(const uint8_t *mask, size_t mask_size, uint8_t alpha[256]) {
    for (size_t k = 0; k < 256; ++k) {
        const size_t red = MASK_PALETTE_RED + 4 * k;
        alpha[k] = red < mask_size ? static_cast<uint8_t>(255 - mask[red]) : 255;
    }
}

}  // namespace

bool compose_with_mask(const uint8_t *picture, size_t picture_size, const uint8_t *mask, size_t mask_size,
                       const std::string &output_name) {
    if (picture_size < BMP_HEADER_SIZE) return false;
    const uint64_t offset = read_le32(picture + 10);
    const int32_t raw_width = read_le32s(picture + 18);
    const int32_t raw_height = read_le32s(picture + 22);
    if (raw_width < 0) return false;
    const uint64_t width = static_cast<uint64_t>(raw_width);
    const uint64_t rows = raw_height < 0 ? uint64_t{0} - static_cast<uint64_t>(static_cast<int64_t>(raw_height))
                                         : static_cast<uint64_t>(raw_height);
    const uint64_t picture_stride = (3 * width + 3) & ~uint64_t{3};
    const bool has_pixels = width > 0 && rows > 0;
    if (has_pixels && (offset > picture_size || rows * picture_stride > picture_size - offset)) return false;
    const uint64_t composed_size = has_pixels ? width * rows * 4 : 0;
    if (composed_size > static_cast<uint64_t>(INT32_MAX)) return false;

    // A mask too short to hold its width, or with a negative one, is opaque.
    const bool mask_usable = mask_size >= MASK_FIELDS_END && read_le32s(mask + 18) >= 0;
    uint64_t mask_offset = 0;
    uint64_t mask_stride = 0;
    uint8_t alpha[256];
    if (mask_usable) {
        mask_offset = read_le32(mask + 10);
        mask_stride = (static_cast<uint64_t>(read_le32s(mask + 18)) + 3) & ~uint64_t{3};
        build_alpha_table(mask, mask_size, alpha);
    }

    std::unique_ptr<uint8_t[]> composed(new uint8_t[static_cast<size_t>(composed_size)]);
    const uint64_t composed_stride = width * 4;
    for (uint64_t r = 0; r < rows && has_pixels; ++r) {
        const uint8_t *src = picture + offset + r * picture_stride;
        // Rows stored top row first are laid out bottom-up here, so the file
        // is an upright picture like every other we write.
        uint8_t *dst = composed.get() + (raw_height < 0 ? rows - 1 - r : r) * composed_stride;
        uint64_t in_mask = 0;  // columns whose mask byte lies inside the mask
        const uint64_t mask_row = mask_offset + r * mask_stride;
        if (mask_usable && mask_row < mask_size) in_mask = mask_size - mask_row < width ? mask_size - mask_row : width;
        uint64_t c = 0;
        for (; c < in_mask; ++c, dst += 4) {
            dst[0] = src[3 * c];
            dst[1] = src[3 * c + 1];
            dst[2] = src[3 * c + 2];
            dst[3] = alpha[mask[mask_row + c]];
        }
        for (; c < width; ++c, dst += 4) {
            dst[0] = src[3 * c];
            dst[1] = src[3 * c + 1];
            dst[2] = src[3 * c + 2];
            dst[3] = 255;
        }
    }
    write_bmp(output_name, composed.get(), static_cast<int32_t>(composed_size), static_cast<uint32_t>(width),
              static_cast<uint32_t>(rows), 4, 0);
    return true;
}
