// png_reader.cpp: decode_png through libspng. Rows are decoded straight into
// their place in the bottom-up buffer and put in the kit's byte order there;
// only indexed files of fewer than 8 bits per pixel go through a packed copy.
#include <spng.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "png_image.h"

namespace {

struct SpngFree {
    void operator()(spng_ctx *ctx) const { spng_ctx_free(ctx); }
};
using SpngContext = std::unique_ptr<spng_ctx, SpngFree>;

const uint8_t PNG_SIGNATURE[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

// Deflate turns one byte into at most 1032.
constexpr uint64_t MAX_INFLATE_RATIO = 1032;

// Ancillary chunks that libspng keeps (texts, an ICC profile) may take this
// much memory at most; the pixels are not counted.
constexpr size_t CHUNK_CACHE_LIMIT = 64u << 20;

bool fail(std::string &error, const std::string &reason) {
    error = reason;
    return false;
}

uint32_t read_be32(const uint8_t *p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

std::string reason_for(int err, const uint8_t *data, size_t size) {
    switch (err) {
        case SPNG_IO_EOF:
        case SPNG_EOF:
            return "truncated";
        case SPNG_ESIGNATURE:
            return "not a PNG file";
        case SPNG_ECHUNK_CRC:
            return "bad CRC";
        case SPNG_EZLIB:
        case SPNG_EIDAT_STREAM:
            return "corrupt zlib stream";
        case SPNG_EIDAT_TOO_SHORT:
            return "image data too short";
        case SPNG_EMEM:
            return "out of memory";
        case SPNG_EOVERFLOW:  // sizes from IHDR that do not fit in memory at all
            return "picture too large";
        case SPNG_EWIDTH:
        case SPNG_EHEIGHT:
            // IHDR's width and height follow the signature and the chunk's length and type.
            if (size >= 24 && (read_be32(data + 16) == 0 || read_be32(data + 20) == 0)) return "zero width or height";
            return "dimensions over the PNG limit";
        default:
            return spng_strerror(err);
    }
}

bool holds_iend(const uint8_t *data, size_t size) {
    static const uint8_t iend[12] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
    if (size >= sizeof iend && std::memcmp(data + size - sizeof iend, iend, sizeof iend) == 0) return true;
    return std::search(data, data + size, iend, iend + sizeof iend) != data + size;  // bytes after IEND
}

// Blue first, in place, in `count` pixels of 3 or 4 bytes.
void swap_red_blue(uint8_t *p, size_t count, uint32_t bytes_per_pixel) {
    for (size_t i = 0; i < count; ++i, p += bytes_per_pixel) std::swap(p[0], p[2]);
}

}  // namespace

bool decode_png(const uint8_t *data, size_t size, Picture &out, std::string &error) {
    if (size < sizeof PNG_SIGNATURE || std::memcmp(data, PNG_SIGNATURE, sizeof PNG_SIGNATURE) != 0)
        return fail(error, "not a PNG file");
    const SpngContext ctx(spng_ctx_new(0));
    if (!ctx) return fail(error, "out of memory");
    spng_ctx *c = ctx.get();
    int ret = spng_set_crc_action(c, SPNG_CRC_ERROR, SPNG_CRC_ERROR);
    if (!ret) ret = spng_set_chunk_limits(c, std::min(CHUNK_CACHE_LIMIT, size), CHUNK_CACHE_LIMIT);
    if (!ret) ret = spng_set_png_buffer(c, data, size);
    spng_ihdr ihdr = {};
    if (!ret) ret = spng_get_ihdr(c, &ihdr);
    if (ret) return fail(error, reason_for(ret, data, size));
    if (ihdr.bit_depth == 16) return fail(error, "16-bit channels");

    spng_trns trns;
    ret = spng_get_trns(c, &trns);
    if (ret && ret != SPNG_ECHUNKAVAIL) return fail(error, reason_for(ret, data, size));
    const bool has_trns = ret == 0;
    const bool indexed = ihdr.color_type == SPNG_COLOR_TYPE_INDEXED && !has_trns;
    const bool alpha = has_trns || ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE_ALPHA ||
                       ihdr.color_type == SPNG_COLOR_TYPE_TRUECOLOR_ALPHA;
    const uint32_t bpp = indexed ? 1 : alpha ? 4 : 3;

    const uint64_t width = ihdr.width, height = ihdr.height;
    const uint64_t stride = (width * bpp + 3) & ~uint64_t{3};
    if (stride > BMP_MAX_BUFFER || stride * height > BMP_MAX_BUFFER) return fail(error, "picture too large");
    const uint64_t buffer_size = stride * height;

    // The filtered rows hold at least this many bytes; a file that cannot
    // inflate to them is cut short, and nothing is allocated for it.
    const uint64_t channels = ihdr.color_type == SPNG_COLOR_TYPE_TRUECOLOR         ? 3
                              : ihdr.color_type == SPNG_COLOR_TYPE_TRUECOLOR_ALPHA ? 4
                              : ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE_ALPHA ? 2
                                                                                   : 1;
    const uint64_t packed_row = (width * channels * ihdr.bit_depth + 7) / 8;
    if ((width * channels * ihdr.bit_depth / 8) * height > MAX_INFLATE_RATIO * size) return fail(error, "truncated");

    const int format = indexed ? SPNG_FMT_PNG : alpha ? SPNG_FMT_RGBA8 : SPNG_FMT_RGB8;
    ret = spng_decode_image(c, nullptr, 0, format, SPNG_DECODE_TRNS | SPNG_DECODE_PROGRESSIVE);
    if (ret) return fail(error, reason_for(ret, data, size));

    Picture picture;
    PixelBuffer &buffer = picture.buffer;
    buffer.pixels.reset(new (std::nothrow) uint8_t[static_cast<size_t>(buffer_size)]());
    if (!buffer.pixels) return fail(error, "out of memory");
    // Indexed rows of 1, 2 or 4 bits are unpacked from a copy of their own.
    const bool packed = indexed && ihdr.bit_depth < 8;
    std::unique_ptr<uint8_t[]> packed_rows;
    if (packed) {
        packed_rows.reset(new (std::nothrow) uint8_t[static_cast<size_t>(packed_row * height)]());
        if (!packed_rows) return fail(error, "out of memory");
    }
    const size_t row_length = static_cast<size_t>(packed ? packed_row : width * bpp);
    spng_row_info info = {};
    do {
        ret = spng_get_row_info(c, &info);
        if (ret) break;
        uint8_t *row = packed ? packed_rows.get() + info.row_num * packed_row
                              : buffer.pixels.get() + (height - 1 - info.row_num) * stride;
        ret = spng_decode_row(c, row, row_length);
        if (!ihdr.interlace_method && bpp > 1 && (ret == 0 || ret == SPNG_EOI))
            swap_red_blue(row, static_cast<size_t>(width), bpp);
    } while (ret == 0);
    if (ret != SPNG_EOI) return fail(error, reason_for(ret, data, size));
    // The chunks after the pixels up to IEND must be whole and sound too.
    // libspng takes a file that ends inside IEND's CRC for whole, so IEND
    // (whose CRC never changes) is looked for as well.
    ret = spng_decode_chunks(c);
    if (ret) return fail(error, reason_for(ret, data, size));
    if (!holds_iend(data, size)) return fail(error, "truncated");

    if (ihdr.interlace_method && bpp > 1) {
        for (uint64_t y = 0; y < height; ++y)
            swap_red_blue(buffer.pixels.get() + y * stride, static_cast<size_t>(width), bpp);
    }
    if (packed) {
        const uint32_t depth = ihdr.bit_depth, per_byte = 8 / depth, mask = (1u << depth) - 1;
        for (uint64_t y = 0; y < height; ++y) {
            const uint8_t *source = packed_rows.get() + y * packed_row;
            uint8_t *target = buffer.pixels.get() + (height - 1 - y) * stride;
            for (uint64_t x = 0; x < width; ++x) {
                const uint32_t shift = 8 - depth * (1 + static_cast<uint32_t>(x % per_byte));
                target[x] = static_cast<uint8_t>((source[x / per_byte] >> shift) & mask);
            }
        }
    }
    if (indexed) {
        spng_plte plte = {};
        ret = spng_get_plte(c, &plte);
        if (ret) return fail(error, reason_for(ret, data, size));
        for (uint32_t i = 0; i < plte.n_entries && i < BMP_PALETTE_ENTRIES; ++i) {
            picture.palette[i * 4 + 0] = plte.entries[i].blue;
            picture.palette[i * 4 + 1] = plte.entries[i].green;
            picture.palette[i * 4 + 2] = plte.entries[i].red;
        }
        // Indices past the PLTE read as black entries.
        uint32_t entries = std::min<uint32_t>(plte.n_entries, BMP_PALETTE_ENTRIES);
        for (uint64_t y = 0; y < height && entries < BMP_PALETTE_ENTRIES; ++y) {
            const uint8_t *row = buffer.pixels.get() + y * stride;
            entries = std::max<uint32_t>(entries, *std::max_element(row, row + width) + 1u);
        }
        picture.palette_count = entries;
    }

    picture.kind = indexed ? PICTURE_INDEXED : alpha ? PICTURE_RGBA : PICTURE_RGB;
    buffer.width = ihdr.width;
    buffer.height = ihdr.height;
    buffer.bytes_per_pixel = static_cast<int32_t>(bpp);
    buffer.stride = static_cast<int32_t>(stride);
    buffer.size = static_cast<int32_t>(buffer_size);
    out = std::move(picture);
    return true;
}
