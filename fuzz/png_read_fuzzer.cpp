// png_read_fuzzer.cpp: decode_png on any file must not crash, leak or
// allocate past its bounds; a picture it decodes must encode and decode back
// to the same pixels (and palette). Chunk CRCs are made right first, so that
// mutations reach past the CRC check into the chunks and the pixel data.
#include <cstring>
#include <vector>

#include "fuzz_support.h"
#include "png_image.h"

namespace {

uint32_t crc32_of(const uint8_t *p, size_t n) {
    uint32_t c = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; ++i) {
        c ^= p[i];
        for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
    }
    return ~c;
}

uint32_t be32(const uint8_t *p) { return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3]; }

void fix_crcs(std::vector<uint8_t> &png) {
    for (size_t at = 8; at + 12 <= png.size();) {
        const uint64_t length = be32(&png[at]);
        if (at + 12 + length > png.size()) break;
        const uint32_t crc = crc32_of(&png[at + 4], static_cast<size_t>(length) + 4);
        for (int i = 0; i < 4; ++i) png[at + 8 + length + i] = static_cast<uint8_t>(crc >> (24 - 8 * i));
        at += 12 + length;
    }
}

bool same_pixels(const Picture &a, const Picture &b) {
    if (a.kind != b.kind || a.buffer.width != b.buffer.width || a.buffer.height != b.buffer.height ||
        a.buffer.size != b.buffer.size)
        return false;
    if (a.kind == PICTURE_INDEXED &&
        (a.palette_count != b.palette_count || std::memcmp(a.palette, b.palette, a.palette_count * 4) != 0))
        return false;
    return std::memcmp(a.buffer.pixels.get(), b.buffer.pixels.get(), static_cast<size_t>(a.buffer.size)) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // Large pictures only spend time and memory (a few KiB of zeros inflate
    // to megabytes); those over the decoder's limit are kept for its refusal.
    if (size >= 24) {
        const uint64_t pixels = uint64_t{be32(data + 16)} * be32(data + 20);
        if (pixels * 4 > FUZZ_MAX_PICTURE_BYTES && pixels <= BMP_MAX_BUFFER) return 0;
    }
    std::vector<uint8_t> png(data, data + size);
    fix_crcs(png);
    Picture picture;
    std::string error;
    if (!decode_png(png.data(), png.size(), picture, error)) {
        FUZZ_ASSERT(!error.empty() && error.find('\n') == std::string::npos);
        return 0;
    }
    const PixelBuffer &b = picture.buffer;
    FUZZ_ASSERT(b.width > 0 && b.height > 0 && b.stride % 4 == 0);
    FUZZ_ASSERT(static_cast<uint64_t>(b.size) == uint64_t{b.height} * static_cast<uint64_t>(b.stride));
    std::vector<uint8_t> again;
    FUZZ_ASSERT(encode_png(picture_view(picture), PngOptions{}, again, error));
    Picture back;
    FUZZ_ASSERT(decode_png(again.data(), again.size(), back, error));
    FUZZ_ASSERT(same_pixels(back, picture));
    return 0;
}
