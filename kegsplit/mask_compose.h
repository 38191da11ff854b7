// mask_compose.h: a 24-bit picture and an 8-bit mask, both complete BMP file
// images, into one 32-bit picture whose alpha is 255 minus the red byte of
// each mask pixel's palette entry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Writes the composed picture under `output_name`. Returns false, writing
// nothing, for a picture that is shorter than its headers, whose rows run
// past its bytes, whose width is negative, or whose 32-bit form would not
// fit a BMP. Mask bytes and palette entries outside the mask read as alpha 255.
bool compose_with_mask(const uint8_t *picture, size_t picture_size, const uint8_t *mask, size_t mask_size,
                       const std::string &output_name);
