// lzss.cpp: decode_lzss, using the output itself as the window.
//
// Output byte t went to window position (4078 + t) mod 4096. A reference to
// position p made when o bytes are out therefore reads the byte written
// D = (4078 + o - p) mod 4096 bytes back (4096 when that is 0), for its whole
// copy; a byte "before" the output start is one of the window's initial zeros.
#include <cstring>

#include "decoders.h"

namespace {

// A flag group reads at most 1 + 8 x 2 bytes, and the fast loop's literal
// copies read up to 8 bytes ahead; an item there may write up to 32 bytes
// (whole chunks), which later items overwrite.
constexpr size_t GROUP_INPUT = 1 + 16 + 8;
constexpr size_t GROUP_ROOM = 8 * 32;

size_t reference_distance(size_t out_pos, size_t b0, size_t b1) {
    const size_t position = b0 | ((b1 & 0xF0) << 4);
    const size_t distance = (LZSS_START_POSITION + out_pos - position) % LZSS_WINDOW_SIZE;
    return distance == 0 ? LZSS_WINDOW_SIZE : distance;
}

// Copies `length` bytes from `distance` back, exactly: bytes before the
// output start are zero, and an overlapping copy repeats what it produces.
void copy_reference(uint8_t *out, size_t out_pos, size_t distance, size_t length) {
    size_t j = 0;
    if (out_pos < distance) {
        j = distance - out_pos < length ? distance - out_pos : length;
        std::memset(out + out_pos, 0, j);
    }
    if (j < length && distance >= length) {
        std::memcpy(out + out_pos + j, out + out_pos + j - distance, length - j);
    } else {
        for (; j < length; ++j) out[out_pos + j] = out[out_pos + j - distance];
    }
}

}  // namespace

size_t decode_lzss(uint8_t *out, size_t out_size, const uint8_t *in, size_t in_size) {
    size_t in_pos = 0;
    size_t out_pos = 0;

    // Fast loop: while a whole group's input and worst-case output fit, the
    // per-item checks are not needed.
    while (in_size - in_pos >= GROUP_INPUT && out_size - out_pos >= GROUP_ROOM) {
        unsigned flags = in[in_pos++];
        unsigned left = 8;  // items left in the group; flag bits above them are zero
        for (;;) {
            // The literals before the next reference (or the group's end),
            // copied at once: no per-literal branch.
            const unsigned n = static_cast<unsigned>(__builtin_ctz(~flags));
            std::memcpy(out + out_pos, in + in_pos, 8);
            in_pos += n;
            out_pos += n;
            left -= n;
            if (left == 0) break;
            flags >>= n + 1;
            --left;
            const size_t b1 = in[in_pos + 1];
            const size_t distance = reference_distance(out_pos, in[in_pos], b1);
            const size_t length = (b1 & 0x0F) + 3;
            in_pos += 2;
            uint8_t *dst = out + out_pos;
            if (distance > out_pos) {
                copy_reference(out, out_pos, distance, length);
            } else if (distance >= 16) {
                // Chunks never overlap their source when it lies a chunk or more back.
                std::memcpy(dst, dst - distance, 16);
                std::memcpy(dst + 16, dst + 16 - distance, 16);
            } else if (distance >= 8) {
                std::memcpy(dst, dst - distance, 8);
                std::memcpy(dst + 8, dst + 8 - distance, 8);
                std::memcpy(dst + 16, dst + 16 - distance, 8);
            } else if (distance == 1) {
                std::memset(dst, dst[-1], 18);
            } else {
                // A short pattern of 2 to 7 bytes: its first 8 bytes built in a
                // register, then 8 at a time from a whole number of periods back.
                uint64_t bytes;
                std::memcpy(&bytes, dst - distance, 8);  // only the first `distance` are used
                const uint64_t unit = bytes & ((uint64_t{1} << (8 * distance)) - 1);
                uint64_t pattern = unit;
                for (size_t k = distance; k < 8; k += distance) pattern |= unit << (8 * k);
                std::memcpy(dst, &pattern, 8);  // little-endian: byte j is pattern byte j
                const size_t period = distance * ((8 + distance - 1) / distance);
                std::memcpy(dst + 8, dst + 8 - period, 8);
                std::memcpy(dst + 16, dst + 16 - period, 8);
            }
            out_pos += length;
            if (left == 0) break;
        }
    }

    // Careful loop for the tail: every item checks the input and the room left.
    while (in_pos < in_size && out_pos < out_size) {
        unsigned flags = in[in_pos++];
        for (int bit = 0; bit < 8; ++bit, flags >>= 1) {
            if (in_pos >= in_size || out_pos >= out_size) return out_pos;
            if (flags & 1) {
                out[out_pos++] = in[in_pos++];
                continue;
            }
            if (in_size - in_pos < 2) return out_pos;  // a lone trailing byte is no reference
            const size_t b1 = in[in_pos + 1];
            const size_t distance = reference_distance(out_pos, in[in_pos], b1);
            size_t length = (b1 & 0x0F) + 3;
            in_pos += 2;
            if (length > out_size - out_pos) length = out_size - out_pos;
            copy_reference(out, out_pos, distance, length);
            out_pos += length;
        }
    }
    return out_pos;
}
