// composite.h: placing a delta picture on its base and blending it in.
#pragma once

#include <cstdint>

#include "bmp.h"

enum CompositeResult {
    COMPOSITE_APPLIED,       // the base now holds the blended picture
    COMPOSITE_NO_FIT,        // the delta does not lie wholly inside the base
    COMPOSITE_BAD_DEPTH,     // a picture is neither 3 nor 4 bytes per pixel
};

// Blends `delta` onto `base` with its top-left corner dx columns right of
// and dy rows below the base's. The fit test comes first and is exact; the
// base is untouched unless the result is COMPOSITE_APPLIED. A 3-byte delta
// counts as opaque; a 3-byte base as opaque and stays 3 bytes per pixel.
CompositeResult composite_delta(PixelBuffer &base, const PixelBuffer &delta, int64_t dx, int64_t dy);

// Source-over blend of one pixel, exactly as the merged pictures define it:
// integer combined alpha, then double-precision weights in a fixed order.
// `base_alpha` is null for a 3-byte base.
void blend_pixel(uint8_t *base, uint8_t *base_alpha, const uint8_t *delta, unsigned delta_alpha);
