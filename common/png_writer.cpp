// png_writer.cpp: encode_png through libspng, one row at a time in PNG's
// order (top-down, red first), so no second copy of the picture is made.
#include <spng.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "png_image.h"

namespace {

struct SpngFree {
    void operator()(spng_ctx *ctx) const { spng_ctx_free(ctx); }
};
using SpngContext = std::unique_ptr<spng_ctx, SpngFree>;

int append_output(spng_ctx *, void *user, void *data, size_t length) {
    auto *png = static_cast<std::vector<uint8_t> *>(user);
    const auto *bytes = static_cast<const uint8_t *>(data);
    try {
        png->insert(png->end(), bytes, bytes + length);
    } catch (const std::bad_alloc &) {
        return SPNG_IO_ERROR;
    }
    return 0;
}

// One row in PNG's byte order.
void convert_row(const uint8_t *source, uint8_t *row, uint32_t width, uint32_t bytes_per_pixel) {
    if (bytes_per_pixel == 4) {
        for (uint32_t x = 0; x < width; ++x, source += 4, row += 4) {
            row[0] = source[2];
            row[1] = source[1];
            row[2] = source[0];
            row[3] = source[3];
        }
    } else {
        for (uint32_t x = 0; x < width; ++x, source += 3, row += 3) {
            row[0] = source[2];
            row[1] = source[1];
            row[2] = source[0];
        }
    }
}

bool fail(std::string &error, const std::string &reason) {
    error = reason;
    return false;
}

}  // namespace

PixelView picture_view(const Picture &picture) {
    PixelView view;
    view.pixels = picture.buffer.pixels.get();
    view.width = picture.buffer.width;
    view.height = picture.buffer.height;
    view.bytes_per_pixel = picture.kind == PICTURE_INDEXED ? 1 : picture.kind == PICTURE_RGB ? 3 : 4;
    view.stride = static_cast<size_t>(picture.buffer.stride);
    view.palette = picture.palette;
    view.palette_count = picture.palette_count;
    return view;
}

bool encode_png(const PixelView &view, const PngOptions &options, std::vector<uint8_t> &png, std::string &error) {
    const uint32_t bpp = view.bytes_per_pixel;
    if (bpp != 1 && bpp != 3 && bpp != 4) return fail(error, "unsupported pixel size");
    if (view.width == 0 || view.height == 0 || !view.pixels) return fail(error, "empty picture");
    if (view.width > INT32_MAX || view.height > INT32_MAX) return fail(error, "dimensions over the PNG limit");
    if (view.stride < uint64_t{view.width} * bpp) return fail(error, "rows overlap");
    if (bpp == 1 && (view.palette_count > BMP_PALETTE_ENTRIES || (view.palette_count && !view.palette)))
        return fail(error, "bad palette");
    if (options.level < 0 || options.level > 9 || options.filter < 0 || options.filter > PNG_FILTER_ALL ||
        options.strategy < 0 || options.strategy > 4)
        return fail(error, "bad PNG options");

    const SpngContext ctx(spng_ctx_new(SPNG_CTX_ENCODER));
    if (!ctx) return fail(error, "out of memory");
    png.clear();
    spng_ihdr ihdr = {};
    ihdr.width = view.width;
    ihdr.height = view.height;
    ihdr.bit_depth = 8;
    ihdr.color_type = bpp == 4   ? SPNG_COLOR_TYPE_TRUECOLOR_ALPHA
                      : bpp == 3 ? SPNG_COLOR_TYPE_TRUECOLOR
                                 : SPNG_COLOR_TYPE_INDEXED;
    int ret = spng_set_png_stream(ctx.get(), append_output, &png);
    if (!ret) ret = spng_set_ihdr(ctx.get(), &ihdr);
    if (!ret) ret = spng_set_option(ctx.get(), SPNG_IMG_COMPRESSION_LEVEL, options.level);
    if (!ret) ret = spng_set_option(ctx.get(), SPNG_IMG_COMPRESSION_STRATEGY, options.strategy);
    if (!ret)
        ret = spng_set_option(ctx.get(), SPNG_FILTER_CHOICE, bpp == 1 ? SPNG_DISABLE_FILTERING : options.filter << 3);
    if (!ret && bpp == 1) {
        // Every index the pixels use needs an entry; entries past the
        // caller's palette are black.
        uint32_t entries = std::max(view.palette_count, 1u);
        for (uint32_t y = 0; y < view.height && entries < BMP_PALETTE_ENTRIES; ++y) {
            const uint8_t *row = view.pixels + y * view.stride;
            const uint32_t largest = *std::max_element(row, row + view.width);
            entries = std::max(entries, largest + 1);
        }
        spng_plte plte = {};
        plte.n_entries = entries;
        for (uint32_t i = 0; i < view.palette_count; ++i) {
            plte.entries[i].red = view.palette[i * 4 + 2];
            plte.entries[i].green = view.palette[i * 4 + 1];
            plte.entries[i].blue = view.palette[i * 4 + 0];
        }
        ret = spng_set_plte(ctx.get(), &plte);
    }
    if (!ret)
        ret = spng_encode_image(ctx.get(), nullptr, 0, SPNG_FMT_PNG, SPNG_ENCODE_PROGRESSIVE | SPNG_ENCODE_FINALIZE);

    const size_t row_length = size_t{view.width} * bpp;
    std::unique_ptr<uint8_t[]> row;
    if (!ret && bpp != 1) {
        row.reset(new (std::nothrow) uint8_t[row_length]);
        if (!row) return fail(error, "out of memory");
    }
    for (uint32_t y = 0; !ret && y < view.height; ++y) {
        const uint8_t *source = view.pixels + size_t{view.height - 1 - y} * view.stride;
        if (bpp != 1) convert_row(source, row.get(), view.width, bpp);
        ret = spng_encode_row(ctx.get(), bpp == 1 ? source : row.get(), row_length);
    }
    if (ret != SPNG_EOI) {
        png.clear();
        if (ret == SPNG_IO_ERROR || ret == SPNG_EMEM) return fail(error, "out of memory");
        return fail(error, std::string("PNG encoder: ") + spng_strerror(ret));
    }
    return true;
}
