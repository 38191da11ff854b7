// lzss.cpp: decode_lzss, using the output itself as the window.
//
// Output byte t went to window position (4078 + t) mod 4096. A reference to
// position p made when t = o bytes are out therefore reads the byte written
// D = (4078 + o - p) mod 4096 bytes back (4096 when that is 0), for its whole
// copy; a byte "before" the output start is one of the window's initial zeros.
#include "decoders.h"

#include <cstring>

size_t decode_lzss(uint8_t *out, size_t out_size, const uint8_t *in, size_t in_size) {
    size_t in_pos = 0;
    size_t out_pos = 0;
    while (in_pos < in_size && out_pos < out_size) {
        unsigned flags = in[in_pos++];
        for (int bit = 0; bit < 8; ++bit, flags >>= 1) {
            if (in_pos >= in_size || out_pos >= out_size) return out_pos;
            if (flags & 1) {
                out[out_pos++] = in[in_pos++];
                continue;
            }
            if (in_size - in_pos < 2) return out_pos;  // a lone trailing byte is no reference
            const size_t b0 = in[in_pos];
            const size_t b1 = in[in_pos + 1];
            in_pos += 2;
            const size_t position = b0 | ((b1 & 0xF0) << 4);
            size_t length = (b1 & 0x0F) + 3;
            if (length > out_size - out_pos) length = out_size - out_pos;

            size_t distance = (LZSS_START_POSITION + out_pos - position) % LZSS_WINDOW_SIZE;
            if (distance == 0) distance = LZSS_WINDOW_SIZE;
            size_t j = 0;
            if (out_pos < distance) {  // bytes from before the output start: the window's zeros
                j = distance - out_pos < length ? distance - out_pos : length;
                std::memset(out + out_pos, 0, j);
            }
            if (j < length && distance >= length) {
                std::memcpy(out + out_pos + j, out + out_pos + j - distance, length - j);
            } else {
                // Overlaps the bytes it is producing: a short pattern repeats.
                for (; j < length; ++j) out[out_pos + j] = out[out_pos + j - distance];
            }
            out_pos += length;
        }
    }
    return out_pos;
}
