// rle.cpp: decode_rle. A packet that runs past the input copies what is
// there; a run or literal that runs past the output is cut off.
#include <cstring>

#include "decoders.h"

size_t decode_rle(uint8_t *out, size_t out_size, const uint8_t *in, size_t in_size) {
    size_t in_pos = 0;
    size_t out_pos = 0;
    while (out_pos < out_size && in_pos < in_size) {
        const size_t count = in[in_pos++];
        if (count != 0) {
            if (in_pos >= in_size) break;
            const uint8_t value = in[in_pos++];
            if (count <= 16 && out_size - out_pos >= 16) {
                // Short runs are common in pictures: one fixed-size store,
                // whose extra bytes later packets overwrite.
                std::memset(out + out_pos, value, 16);
                out_pos += count;
                continue;
            }
            const size_t n = count < out_size - out_pos ? count : out_size - out_pos;
            std::memset(out + out_pos, value, n);
            out_pos += n;
            continue;
        }
        if (in_pos >= in_size) break;
        size_t n = in[in_pos++];
        if (n <= 16 && in_size - in_pos >= 16 && out_size - out_pos >= 16) {
            std::memcpy(out + out_pos, in + in_pos, 16);
            in_pos += n;
            out_pos += n;
            continue;
        }
        if (n > in_size - in_pos) n = in_size - in_pos;
        if (n > out_size - out_pos) n = out_size - out_pos;
        std::memcpy(out + out_pos, in + in_pos, n);
        in_pos += n;
        out_pos += n;
    }
    return out_pos;
}
