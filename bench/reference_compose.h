// reference_compose.h: the two picture compositions written straight from
// their definitions, pixel by pixel, for the benchmarks to measure the real
// ones against and to check that both give the same bytes.
#pragma once

#include <cstdint>
#include <cstring>

#include "bmp.h"

// compose_with_mask's pixels: colour from the picture, alpha = 255 minus the
// red byte of the mask's palette entry, every byte checked against the mask.
inline void reference_compose_mask(const uint8_t *picture, const uint8_t *mask, size_t mask_size, uint8_t *out) {
    auto le32 = [](const uint8_t *p) { return static_cast<int32_t>(p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24); };
    const int64_t w = le32(picture + 18), h = le32(picture + 22);
    const uint8_t *row = picture + static_cast<uint32_t>(le32(picture + 10));
    const int64_t sp = (3 * w + 3) & ~3, sm = (le32(mask + 18) + 3) & ~3;
    const uint64_t mask_offset = static_cast<uint32_t>(le32(mask + 10));
    for (int64_t r = 0; r < h; ++r, row += sp) {
        for (int64_t c = 0; c < w; ++c) {
            uint8_t *d = out + 4 * (r * w + c);
            d[0] = row[3 * c];
            d[1] = row[3 * c + 1];
            d[2] = row[3 * c + 2];
            const uint64_t at = mask_offset + static_cast<uint64_t>(r * sm + c);
            uint8_t alpha = 255;
            if (at < mask_size) {
                const uint64_t red = 56 + 4 * uint64_t{mask[at]};
                if (red < mask_size) alpha = static_cast<uint8_t>(255 - mask[red]);
            }
            d[3] = alpha;
        }
    }
}

// composite_delta's blend of every pixel by the double-precision steps.
inline void reference_composite_delta(PixelBuffer &base, const PixelBuffer &delta, int64_t dx, int64_t dy) {
    for (uint64_t j = 0; j < delta.height; ++j) {
        for (uint64_t i = 0; i < delta.width; ++i) {
            const uint64_t r = base.height - delta.height - dy + j;
            uint8_t *b = base.pixels.get() + r * base.stride + (i + dx) * base.bytes_per_pixel;
            const uint8_t *d = delta.pixels.get() + j * delta.stride + i * delta.bytes_per_pixel;
            const unsigned a = delta.bytes_per_pixel == 4 ? d[3] : 255;
            const unsigned ba = base.bytes_per_pixel == 4 ? b[3] : 255;
            const unsigned k = a + (255 - a) * ba / 255;
            const double w = k == 0 ? 0.0 : static_cast<double>(a * 255) / static_cast<double>(k);
            const double v = 255.0 - w;
            for (int c = 0; c < 3; ++c) b[c] = static_cast<uint8_t>(static_cast<int>((d[c] * w + b[c] * v) / 255.0));
            if (base.bytes_per_pixel == 4) b[3] = static_cast<uint8_t>(k);
        }
    }
}
