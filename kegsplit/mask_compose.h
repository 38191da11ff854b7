// mask_compose.h: a 24-bit picture and an 8-bit mask, both complete BMP file
// images, into one 32-bit picture whose alpha is 255 minus the red byte of
// each mask pixel's palette entry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform.h"

// A composed picture: bottom-up rows of width x 4 bytes (blue, green, red, alpha).
// The buffer is reused by the next composition into the same record when
// it is large enough.
struct ComposedPicture {
    LargeBuffer pixels;
    size_t capacity = 0;
    int32_t size = 0;
    uint32_t width = 0;
    uint32_t height = 0;
};

// Writes the composed picture under `output_name`. Returns false, writing
// nothing, for a picture that is shorter than its headers, whose rows run
// past its bytes, whose width is negative, or whose 32-bit form would not
// fit a BMP. Mask bytes and palette entries outside the mask read as alpha 255.
bool compose_with_mask(const uint8_t *picture, size_t picture_size, const uint8_t *mask, size_t mask_size,
                       const std::string &output_name);

// The same composition into memory, without writing: false for a bad picture.
bool compose_mask_pixels(const uint8_t *picture, size_t picture_size, const uint8_t *mask, size_t mask_size,
                         ComposedPicture &result);
