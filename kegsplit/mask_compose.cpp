// mask_compose.cpp: compose_with_mask. Stored row r of the picture pairs
// with stored row r of the mask, column c with column c; the mask's height
// is never consulted and its width only sets its row length.
#include "mask_compose.h"

#include <cstdint>
#include <cstring>
#include <memory>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include "bmp.h"
#include "byte_order.h"
#include "platform.h"

namespace {

constexpr size_t MASK_FIELDS_END = 22;     // through biWidth
constexpr size_t MASK_PALETTE_RED = 56;    // red byte of palette entry 0

// Alpha for each palette index; entries beyond the mask's bytes are opaque.
void build_alpha_table(const uint8_t *mask, size_t mask_size, uint8_t alpha[256]) {
    for (size_t k = 0; k < 256; ++k) {
        const size_t red = MASK_PALETTE_RED + 4 * k;
        alpha[k] = red < mask_size ? static_cast<uint8_t>(255 - mask[red]) : 255;
    }
}

uint32_t load32(const uint8_t *p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;  // little-endian machines only, as every target of this kit is
}

void store32(uint8_t *p, uint32_t v) { std::memcpy(p, &v, 4); }

// `count` pixels of blue, green, red from `src` with the alphas of `mask`:
// four pixels from three 32-bit loads, then one at a time.
uint64_t compose_row_scalar(const uint8_t *src, const uint8_t *mask, const uint8_t alpha[256], uint8_t *dst,
                            uint64_t count, uint64_t c) {
    for (; c + 4 <= count; c += 4) {
        const uint32_t a = load32(src + 3 * c), b = load32(src + 3 * c + 4), d = load32(src + 3 * c + 8);
        uint8_t *o = dst + 4 * c;
        store32(o, (a & 0xFFFFFFu) | uint32_t{alpha[mask[c]]} << 24);
        store32(o + 4, (a >> 24 | (b & 0xFFFFu) << 8) | uint32_t{alpha[mask[c + 1]]} << 24);
        store32(o + 8, (b >> 16 | (d & 0xFFu) << 16) | uint32_t{alpha[mask[c + 2]]} << 24);
        store32(o + 12, (d >> 8) | uint32_t{alpha[mask[c + 3]]} << 24);
    }
    for (; c < count; ++c) {
        dst[4 * c] = src[3 * c];
        dst[4 * c + 1] = src[3 * c + 1];
        dst[4 * c + 2] = src[3 * c + 2];
        dst[4 * c + 3] = alpha[mask[c]];
    }
    return count;
}

#if defined(__x86_64__) || defined(__i386__)
// Sixteen pixels at a time: byte shuffles spread 48 colour bytes over 64,
// and a run of equal mask bytes (most of a real mask) takes one lookup.
__attribute__((target("ssse3"))) uint64_t compose_row_ssse3(const uint8_t *src, const uint8_t *mask,
                                                             const uint8_t alpha[256], uint8_t *dst, uint64_t count) {
    const __m128i spread = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    uint64_t c = 0;
    for (; c + 16 <= count; c += 16) {
        const uint8_t *s = src + 3 * c;
        const __m128i l0 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s));
        const __m128i l1 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s + 16));
        const __m128i l2 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s + 32));
        __m128i p[4] = {_mm_shuffle_epi8(l0, spread), _mm_shuffle_epi8(_mm_alignr_epi8(l1, l0, 12), spread),
                        _mm_shuffle_epi8(_mm_alignr_epi8(l2, l1, 8), spread),
                        _mm_shuffle_epi8(_mm_srli_si128(l2, 4), spread)};
        const __m128i m = _mm_loadu_si128(reinterpret_cast<const __m128i *>(mask + c));
        if (_mm_movemask_epi8(_mm_cmpeq_epi8(m, _mm_set1_epi8(static_cast<char>(mask[c])))) == 0xFFFF) {
            const __m128i a = _mm_set1_epi32(static_cast<int>(uint32_t{alpha[mask[c]]} << 24));
            for (__m128i &q : p) q = _mm_or_si128(q, a);
        } else {
            alignas(16) uint8_t a[16];
            for (int i = 0; i < 16; ++i) a[i] = alpha[mask[c + i]];
            const __m128i av = _mm_load_si128(reinterpret_cast<const __m128i *>(a));
            for (int k = 0; k < 4; ++k) {
                const char b = static_cast<char>(4 * k);
                const __m128i place = _mm_setr_epi8(-1, -1, -1, b, -1, -1, -1, static_cast<char>(b + 1), -1, -1, -1,
                                                    static_cast<char>(b + 2), -1, -1, -1, static_cast<char>(b + 3));
                p[k] = _mm_or_si128(p[k], _mm_shuffle_epi8(av, place));
            }
        }
        for (int k = 0; k < 4; ++k) _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + 4 * c + 16 * k), p[k]);
    }
    return compose_row_scalar(src, mask, alpha, dst, count, c);
}
#endif

uint64_t compose_row(const uint8_t *src, const uint8_t *mask, const uint8_t alpha[256], uint8_t *dst, uint64_t count) {
#if defined(__x86_64__) || defined(__i386__)
    static const bool ssse3 = __builtin_cpu_supports("ssse3");
    if (ssse3) return compose_row_ssse3(src, mask, alpha, dst, count);
#endif
    return compose_row_scalar(src, mask, alpha, dst, count, 0);
}

}  // namespace

bool compose_mask_pixels(const uint8_t *picture, size_t picture_size, const uint8_t *mask, size_t mask_size,
                         ComposedPicture &result) {
    if (picture_size < BMP_HEADER_SIZE) return false;
    const uint64_t offset = read_le32(picture + 10);
    const int32_t raw_width = read_le32s(picture + 18);
    const int32_t raw_height = read_le32s(picture + 22);
    if (raw_width < 0) return false;
    const uint64_t width = static_cast<uint64_t>(raw_width);
    const uint64_t rows = raw_height < 0 ? uint64_t{0} - static_cast<uint64_t>(static_cast<int64_t>(raw_height))
                                         : static_cast<uint64_t>(raw_height);
    const uint64_t picture_stride = (3 * width + 3) & ~uint64_t{3};
    const bool has_pixels = width > 0 && rows > 0;
    if (has_pixels && (offset > picture_size || rows * picture_stride > picture_size - offset)) return false;
    const uint64_t composed_size = has_pixels ? width * rows * 4 : 0;
    if (composed_size > static_cast<uint64_t>(INT32_MAX)) return false;

    // A mask too short to hold its width, or with a negative one, is opaque.
    const bool mask_usable = mask_size >= MASK_FIELDS_END && read_le32s(mask + 18) >= 0;
    uint64_t mask_offset = 0;
    uint64_t mask_stride = 0;
    uint8_t alpha[256];
    if (mask_usable) {
        mask_offset = read_le32(mask + 10);
        mask_stride = (static_cast<uint64_t>(read_le32s(mask + 18)) + 3) & ~uint64_t{3};
        build_alpha_table(mask, mask_size, alpha);
    }

    if (result.capacity < composed_size || !result.pixels) {
        result.pixels.reset();  // the old buffer goes before the new one comes
        result.pixels = platform_allocate_large_buffer(static_cast<size_t>(composed_size), result.capacity);
    }
    uint8_t *const composed = result.pixels.get();
    const uint64_t composed_stride = width * 4;
    for (uint64_t r = 0; r < rows && has_pixels; ++r) {
        const uint8_t *src = picture + offset + r * picture_stride;
        // Rows stored top row first are laid out bottom-up here, so the file
        // is an upright picture like every other we write.
        uint8_t *dst = composed + (raw_height < 0 ? rows - 1 - r : r) * composed_stride;
        uint64_t in_mask = 0;  // columns whose mask byte lies inside the mask
        const uint64_t mask_row = mask_offset + r * mask_stride;
        if (mask_usable && mask_row < mask_size) in_mask = mask_size - mask_row < width ? mask_size - mask_row : width;
        const uint64_t c = in_mask ? compose_row(src, mask + mask_row, alpha, dst, in_mask) : 0;
        dst += 4 * c;
        for (uint64_t x = c; x < width; ++x, dst += 4) {
            dst[0] = src[3 * x];
            dst[1] = src[3 * x + 1];
            dst[2] = src[3 * x + 2];
            dst[3] = 255;
        }
    }
    result.size = static_cast<int32_t>(composed_size);
    result.width = static_cast<uint32_t>(width);
    result.height = static_cast<uint32_t>(rows);
    return true;
}

bool compose_with_mask(const uint8_t *picture, size_t picture_size, const uint8_t *mask, size_t mask_size,
                       const std::string &output_name) {
    ComposedPicture composed;
    if (!compose_mask_pixels(picture, picture_size, mask, mask_size, composed)) return false;
    write_bmp(output_name, composed.pixels.get(), composed.size, composed.width, composed.height, 4, 0);
    return true;
}
