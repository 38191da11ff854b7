// composite.cpp: composite_delta. The blend of one pixel, with a = delta
// alpha and b = base alpha (255 for a 3-byte base):
//   k = a + floor((255 - a) * b / 255)          integers
//   w = k ? (a * 255) / k : 0;  v = 255 - w     doubles
//   colour = trunc((d * w + c * v) / 255)       doubles, products first
//   base alpha = k
// Built with floating-point contraction off, so no compiler fuses these
// steps into FMA, and with every step rounded to double (no x87 excess
// precision on 32-bit x86), so the results are the same everywhere.
#include "composite.h"

#include <cfloat>
#include <cstring>

static_assert(FLT_EVAL_METHOD == 0, "double arithmetic must round every step to double (-msse2 -mfpmath=sse on x86)");

void blend_pixel(uint8_t *base, uint8_t *base_alpha, const uint8_t *delta, unsigned delta_alpha) {
    const unsigned a = delta_alpha;
    const unsigned b = base_alpha ? *base_alpha : 255u;
    const unsigned k = a + (255u - a) * b / 255u;
    const double w = k == 0 ? 0.0 : static_cast<double>(a * 255u) / static_cast<double>(k);
    const double v = 255.0 - w;
    for (int i = 0; i < 3; ++i) {
        const double s = static_cast<double>(delta[i]) * w + static_cast<double>(base[i]) * v;
        base[i] = static_cast<uint8_t>(static_cast<int>(s / 255.0));
    }
    if (base_alpha) *base_alpha = static_cast<uint8_t>(k);
}

namespace {

// One row of delta pixels onto one row of base pixels.
void blend_row(uint8_t *base, int base_bpp, const uint8_t *delta, int delta_bpp, uint64_t count) {
    for (uint64_t i = 0; i < count; ++i, base += base_bpp, delta += delta_bpp) {
        const unsigned a = delta_bpp == 4 ? delta[3] : 255u;
        if (a == 0) continue;  // leaves colour and alpha as they are
        uint8_t *alpha = base_bpp == 4 ? base + 3 : nullptr;
        if (a == 255) {
            std::memcpy(base, delta, 3);
            if (alpha) *alpha = 255;
            continue;
        }
        if (!alpha || *alpha == 255) {
            // Opaque base: k = 255 and w = a exactly, so the doubles reduce to
            // this integer division with the same result.
            for (int c = 0; c < 3; ++c) base[c] = static_cast<uint8_t>((delta[c] * a + base[c] * (255u - a)) / 255u);
            continue;
        }
        blend_pixel(base, alpha, delta, a);
    }
}

}  // namespace

CompositeResult composite_delta(PixelBuffer &base, const PixelBuffer &delta, int64_t dx, int64_t dy) {
    if (dx < 0 || dy < 0 || int64_t{delta.width} + dx > int64_t{base.width} ||
        int64_t{delta.height} + dy > int64_t{base.height})
        return COMPOSITE_NO_FIT;
    const auto depth_ok = [](int32_t bpp) { return bpp == 3 || bpp == 4; };
    if (!depth_ok(base.bytes_per_pixel) || !depth_ok(delta.bytes_per_pixel)) return COMPOSITE_BAD_DEPTH;

    // Buffer rows run bottom-up: the delta's top row lands dy rows below the base's top.
    const uint64_t first_row = uint64_t{base.height} - delta.height - static_cast<uint64_t>(dy);
    for (uint64_t j = 0; j < delta.height && delta.width > 0; ++j) {
        uint8_t *base_row = base.pixels.get() + (first_row + j) * static_cast<uint64_t>(base.stride) +
                            static_cast<uint64_t>(dx) * static_cast<uint64_t>(base.bytes_per_pixel);
        const uint8_t *delta_row = delta.pixels.get() + j * static_cast<uint64_t>(delta.stride);
        blend_row(base_row, base.bytes_per_pixel, delta_row, delta.bytes_per_pixel, delta.width);
    }
    return COMPOSITE_APPLIED;
}
