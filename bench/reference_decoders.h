// reference_decoders.h: the packed formats decoded the plain way, byte at a
// time through a 4096-byte ring window, exactly as the format describes
// them. The benchmarks measure the real decoders against these, and the
// fuzzers check that both agree on every input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

inline size_t reference_decode_lzss(uint8_t *out, size_t out_size, const uint8_t *in, size_t in_size) {
    uint8_t window[4096];
    std::memset(window, 0, sizeof window);
    size_t r = 4078, in_pos = 0, out_pos = 0;
    while (in_pos < in_size && out_pos < out_size) {
        unsigned flags = in[in_pos++];
        for (int bit = 0; bit < 8; ++bit, flags >>= 1) {
            if (in_pos >= in_size || out_pos >= out_size) return out_pos;
            if (flags & 1) {
                const uint8_t c = in[in_pos++];
                window[r] = c;
                r = (r + 1) & 4095;
                out[out_pos++] = c;
            } else {
                if (in_size - in_pos < 2) return out_pos;
                const unsigned b0 = in[in_pos], b1 = in[in_pos + 1];
                in_pos += 2;
                const unsigned p = b0 | ((b1 & 0xF0) << 4);
                const unsigned n = (b1 & 0x0F) + 3;
                for (unsigned j = 0; j < n; ++j) {
                    if (out_pos >= out_size) break;
                    const uint8_t c = window[(p + j) & 4095];
                    window[r] = c;
                    r = (r + 1) & 4095;
                    out[out_pos++] = c;
                }
            }
        }
    }
    return out_pos;
}

// Reads are bounded by in_size; a packet cut short by the input ends decoding.
inline size_t reference_decode_rle(uint8_t *out, size_t out_size, const uint8_t *in, size_t in_size) {
    size_t in_pos = 0, out_pos = 0;
    while (out_pos < out_size) {
        if (in_pos >= in_size) break;
        const unsigned c = in[in_pos++];
        if (c != 0) {
            if (in_pos >= in_size) break;
            const uint8_t v = in[in_pos++];
            for (unsigned j = 0; j < c; ++j) {
                if (out_pos >= out_size) return out_pos;
                out[out_pos++] = v;
            }
        } else {
            if (in_pos >= in_size) break;
            const unsigned m = in[in_pos++];
            for (unsigned j = 0; j < m; ++j) {
                if (out_pos >= out_size) return out_pos;
                if (in_pos >= in_size) return out_pos;
                out[out_pos++] = in[in_pos++];
            }
        }
    }
    return out_pos;
}
