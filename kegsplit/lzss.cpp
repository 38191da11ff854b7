// lzss.cpp: decode_lzss, using the output itself as the window.
//
// Output byte t went to window position (4078 + t) mod 4096. A reference to
// position p made when o bytes are out therefore reads the byte written
// D = (4078 + o - p) mod 4096 bytes back (4096 when that is 0), for its whole
// copy; a byte "before" the output start is one of the window's initial zeros.
#include <algorithm>
#include <bit>
#include <cstring>

#include "decoders.h"

namespace {

static_assert(std::endian::native == std::endian::little, "the fast path builds words in little-endian order");

// A flag group reads at most 1 + 8 x 2 bytes, and the fast loop's literal
// copies read up to 8 bytes ahead (a short reference reads 16 bytes from its
// group's start); an item there may write up to 32 bytes (whole chunks),
// which later items overwrite.
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

uint64_t load64(const uint8_t *p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

void store64(uint8_t *p, uint64_t v) { std::memcpy(p, &v, 8); }

// The low n bytes (n < 8).
uint64_t low_bytes(uint64_t v, size_t n) { return v & ((uint64_t{1} << (8 * n)) - 1); }

// Writes the 24 bytes that a reference `distance` (under 8) back would
// produce at `dst` (a reference copies at most 18; the rest is overwritten
// later). The words are built in registers from bytes written before this
// reference: reading back bytes that were just stored in parts would stall
// the processor's store forwarding on every such reference.
void store_pattern(uint8_t *dst, size_t distance) {
    // A pattern of d bytes repeats; p, the largest multiple of d up to 8, is
    // a period too. Each word starts s = 8 - p bytes further into the pattern
    // than the one before, so it is the one before moved down by s bytes,
    // with its first s bytes of pattern (a period on) on top. The pattern's
    // copies in the first word: at bytes 0, d, 2d, ...
    static constexpr uint64_t REPEAT[8] = {0,
                                           0x0101010101010101u,
                                           0x0001000100010001u,
                                           0x0001000001000001u,
                                           0x0000000100000001u,
                                           0x0000010000000001u,
                                           0x0001000000000001u,
                                           0x0100000000000001u};
    static constexpr unsigned SHIFT[8] = {0, 0, 0, 16, 0, 24, 16, 8};  // 8 * s
    const uint64_t w0 = low_bytes(load64(dst - distance), distance) * REPEAT[distance];
    const unsigned shift = SHIFT[distance];
    const uint64_t t0 = w0 >> shift;
    const uint64_t w1 = t0 | ((t0 << (63 - shift)) << 1);
    const uint64_t t1 = w1 >> shift;
    const uint64_t w2 = t1 | ((t1 << (63 - shift)) << 1);
    store64(dst, w0);
    store64(dst + 8, w1);
    store64(dst + 16, w2);
}

}  // namespace

size_t decode_lzss(uint8_t *out, size_t out_size, const uint8_t *in, size_t in_size) {
    size_t in_pos = 0;
    size_t out_pos = 0;

    // Fast loop: while a whole group's input and worst-case output fit, the
    // per-item checks are not needed.
    while (in_size - in_pos >= GROUP_INPUT && out_size - out_pos >= GROUP_ROOM) {
        if (in[in_pos] == 0xFF) {
            // Groups of eight literals, most of a photograph's stream, one
            // after another without the item loop, as far as both buffers
            // hold whole groups.
            size_t groups = std::min((in_size - in_pos) / 9, (out_size - out_pos) / 8);
            do {
                std::memcpy(out + out_pos, in + in_pos + 1, 8);
                in_pos += 9;
                out_pos += 8;
            } while (--groups != 0 && in[in_pos] == 0xFF);
            continue;
        }
        const uint8_t *group = in + in_pos;
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
            } else if (distance >= 8) {
                // Eight bytes at a time, each word read after the one before
                // it is stored. A photograph's references are mostly 8 bytes
                // or shorter; reading their second and third words from the
                // output would often straddle stores still in flight and
                // stall, so those words come from the group's own input
                // (never stored to, and overwritten later). A select, not a
                // branch: a drawing's lengths vary from one to the next.
                store64(dst, load64(dst - distance));
                const uint8_t *more = length > 8 ? dst + 8 - distance : group;
                store64(dst + 8, load64(more));
                store64(dst + 16, load64(more + 8));
            } else {
                store_pattern(dst, distance);
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
