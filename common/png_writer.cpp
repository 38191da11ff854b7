// png_writer.cpp: encode_png. The rows are filtered here, top-down in PNG's
// byte order (red first), into one buffer; libdeflate compresses the whole of
// it into a zlib stream in one call, written straight into the file image,
// which then gets its chunks around it: IHDR, PLTE for indexed pictures, the
// stream in IDAT chunks, IEND.
#include <libdeflate.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>

#include "platform.h"
#include "png_image.h"

namespace {

constexpr uint8_t PNG_SIGNATURE_BYTES[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
// The zlib stream goes into IDAT chunks of at most this many bytes: far
// below PNG's limit of 2^31 - 1, and few enough to cost nothing.
constexpr size_t IDAT_DATA_LIMIT = size_t{1} << 20;

enum FilterType : uint8_t { FILTER_NONE = 0, FILTER_SUB = 1, FILTER_UP = 2, FILTER_AVERAGE = 3, FILTER_PAETH = 4 };

struct CompressorFree {
    void operator()(libdeflate_compressor *c) const { libdeflate_free_compressor(c); }
};
using Compressor = std::unique_ptr<libdeflate_compressor, CompressorFree>;

bool fail(std::string &error, const std::string &reason) {
    error = reason;
    return false;
}

void put_be32(uint8_t *at, uint32_t value) {
    at[0] = static_cast<uint8_t>(value >> 24);
    at[1] = static_cast<uint8_t>(value >> 16);
    at[2] = static_cast<uint8_t>(value >> 8);
    at[3] = static_cast<uint8_t>(value);
}

// A chunk's length and type at `at`, its data (already in place) after them,
// and its CRC after the data. Returns the position after the chunk.
size_t close_chunk(uint8_t *file, size_t at, const char *type, size_t length) {
    put_be32(file + at, static_cast<uint32_t>(length));
    std::memcpy(file + at + 4, type, 4);
    const uint32_t crc = libdeflate_crc32(0, file + at + 4, length + 4);
    put_be32(file + at + 8 + length, crc);
    return at + 12 + length;
}

// One row in PNG's byte order: red, green, blue (, alpha) from blue, green,
// red (, alpha); indices as they are.
template <unsigned BPP>
void convert_row(const uint8_t *source, uint8_t *row, size_t length) {
    if constexpr (BPP == 1) {
        std::memcpy(row, source, length);
    } else {
        for (size_t i = 0; i < length; i += BPP) {
            row[i] = source[i + 2];
            row[i + 1] = source[i + 1];
            row[i + 2] = source[i];
            if constexpr (BPP == 4) row[i + 3] = source[i + 3];
        }
    }
}

uint8_t paeth_predictor(uint8_t a, uint8_t b, uint8_t c) {
    const int p = a + b - c;
    const int pa = p > a ? p - a : a - p;
    const int pb = p > b ? p - b : b - p;
    const int pc = p > c ? p - c : c - p;
    return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

// `raw` and `above` are the row and the one above it (zeros for the first
// row) in PNG's byte order; `out` gets the filtered bytes, without the
// filter type. Written without loop-carried state, so that they vectorize.
template <unsigned BPP>
void filter_row(FilterType type, const uint8_t *raw, const uint8_t *above, uint8_t *out, size_t length) {
    const size_t first = std::min<size_t>(BPP, length);
    switch (type) {
        case FILTER_NONE:
            std::memcpy(out, raw, length);
            break;
        case FILTER_SUB:
            std::memcpy(out, raw, first);
            for (size_t i = first; i < length; ++i) out[i] = static_cast<uint8_t>(raw[i] - raw[i - BPP]);
            break;
        case FILTER_UP:
            for (size_t i = 0; i < length; ++i) out[i] = static_cast<uint8_t>(raw[i] - above[i]);
            break;
        case FILTER_AVERAGE:
            for (size_t i = 0; i < first; ++i) out[i] = static_cast<uint8_t>(raw[i] - (above[i] >> 1));
            for (size_t i = first; i < length; ++i)
                out[i] = static_cast<uint8_t>(raw[i] - ((raw[i - BPP] + above[i]) >> 1));
            break;
        case FILTER_PAETH:
            for (size_t i = 0; i < first; ++i) out[i] = static_cast<uint8_t>(raw[i] - above[i]);
            for (size_t i = first; i < length; ++i)
                out[i] = static_cast<uint8_t>(raw[i] - paeth_predictor(raw[i - BPP], above[i], above[i - BPP]));
            break;
    }
}

// What a filtered byte will cost once compressed, as far as the bytes chosen
// so far tell: the running counts of the last 64 KiB or so of filtered
// bytes, and from them each value's cost in 1/16 bits (-log2 of its share).
// A row is worth the sum of its bytes' costs. Better at predicting the
// compressed size than the sum of the bytes' magnitudes, which favours small
// differences even where they are all different.
struct ByteModel {
    static constexpr uint64_t WINDOW = 65536;
    static constexpr uint64_t REFRESH = 16384;  // bytes counted between two updates of the costs
    uint32_t counts[256];
    uint64_t total = 256;
    uint64_t since_refresh = 0;
    uint16_t cost[256];

    ByteModel() {
        std::fill(counts, counts + 256, 1u);
        refresh();
    }
    void refresh() {
        const double all = std::log2(static_cast<double>(total));
        for (int i = 0; i < 256; ++i)
            cost[i] = static_cast<uint16_t>(std::lround(16 * (all - std::log2(static_cast<double>(counts[i])))));
        since_refresh = 0;
    }
    uint64_t row_cost(const uint8_t *bytes, size_t length) const {
        uint64_t sum = 0;
        for (size_t i = 0; i < length; ++i) sum += cost[bytes[i]];
        return sum;
    }
    void count(const uint8_t *bytes, size_t length) {
        // Four tallies, so that runs of one value do not wait on each other.
        uint32_t tally[4][256] = {};
        size_t i = 0;
        for (; i + 4 <= length; i += 4) {
            ++tally[0][bytes[i]];
            ++tally[1][bytes[i + 1]];
            ++tally[2][bytes[i + 2]];
            ++tally[3][bytes[i + 3]];
        }
        for (; i < length; ++i) ++tally[0][bytes[i]];
        for (int v = 0; v < 256; ++v) counts[v] += tally[0][v] + tally[1][v] + tally[2][v] + tally[3][v];
        total += length;
        since_refresh += length;
        if (total > WINDOW) {
            total = 0;
            for (uint32_t &c : counts) total += c = (c >> 1) | 1;
        }
        if (since_refresh >= REFRESH) refresh();
    }
};

// Every row of the picture, filtered, each after its filter type byte, into
// `filtered` (height x (1 + length) bytes). With one filter allowed it is
// used throughout; with several, each row takes the one of least cost.
template <unsigned BPP>
void filter_picture(const PixelView &view, int filters, uint8_t *filtered, uint8_t *work) {
    const size_t length = size_t{view.width} * BPP;
    uint8_t *raw = work;
    uint8_t *above = work + length;
    uint8_t *trial = work + 2 * length;
    std::memset(above, 0, length);
    FilterType allowed[5];
    int count = 0;
    for (int t = 0; t < 5; ++t)
        if (filters & (1 << t)) allowed[count++] = static_cast<FilterType>(t);
    ByteModel model;
    for (uint32_t y = 0; y < view.height; ++y) {
        const uint8_t *source = view.pixels + size_t{view.height - 1 - y} * view.stride;
        uint8_t *out = filtered + y * (length + 1);
        convert_row<BPP>(source, raw, length);
        if (count == 1) {
            out[0] = allowed[0];
            filter_row<BPP>(allowed[0], raw, above, out + 1, length);
        } else {
            uint64_t best = UINT64_MAX;
            for (int k = 0; k < count; ++k) {
                uint8_t *target = k == 0 ? out + 1 : trial;
                filter_row<BPP>(allowed[k], raw, above, target, length);
                const uint64_t cost = model.row_cost(target, length);
                if (cost < best) {
                    best = cost;
                    out[0] = allowed[k];
                    if (k > 0) std::memcpy(out + 1, trial, length);
                }
            }
            model.count(out + 1, length);
        }
        std::swap(raw, above);
    }
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
    if (options.level < PNG_LEVEL_MIN || options.level > PNG_LEVEL_MAX || options.filter <= 0 ||
        options.filter > PNG_FILTER_ALL)
        return fail(error, "bad PNG options");
    png.clear();

    const uint64_t length = uint64_t{view.width} * bpp;
    const uint64_t filtered_size = (length + 1) * view.height;
    if (filtered_size > SIZE_MAX / 2) return fail(error, "out of memory");

    // Every index the pixels use needs a palette entry; entries past the
    // caller's palette are black.
    uint32_t entries = 0;
    if (bpp == 1) {
        entries = std::max(view.palette_count, 1u);
        for (uint32_t y = 0; y < view.height && entries < BMP_PALETTE_ENTRIES; ++y) {
            const uint8_t *row = view.pixels + y * view.stride;
            entries = std::max(entries, uint32_t{*std::max_element(row, row + view.width)} + 1);
        }
    }

    try {
        size_t capacity = 0;
        const LargeBuffer filtered = platform_allocate_large_buffer(static_cast<size_t>(filtered_size), capacity);
        const std::unique_ptr<uint8_t[]> work(new uint8_t[static_cast<size_t>(length) * 3]);
        // Indexed rows are never filtered: their neighbours' differences mean nothing.
        // At the fastest levels a choice for each row costs as much as the
        // compressor and gains nothing over the average filter alone
        // (measured: 1.061 against 1.062 times ImageMagick's size at level 1,
        // at half the speed), which they then take wherever it is allowed.
        int filters = bpp == 1 ? PNG_FILTER_NONE : options.filter;
        if (options.level <= PNG_LEVEL_ONE_FILTER && (filters & PNG_FILTER_AVERAGE)) filters = PNG_FILTER_AVERAGE;
        if (bpp == 1)
            filter_picture<1>(view, filters, filtered.get(), work.get());
        else if (bpp == 3)
            filter_picture<3>(view, filters, filtered.get(), work.get());
        else
            filter_picture<4>(view, filters, filtered.get(), work.get());

        const Compressor compressor(libdeflate_alloc_compressor(options.level));
        if (!compressor) return fail(error, "out of memory");
        const size_t bound = libdeflate_zlib_compress_bound(compressor.get(), static_cast<size_t>(filtered_size));
        const size_t max_chunks = bound / IDAT_DATA_LIMIT + 1;
        const size_t head = 8 + 25 + (bpp == 1 ? 12 + 3 * size_t{entries} : 0);
        if (bound > SIZE_MAX / 2 - head - 12 * max_chunks - 12) return fail(error, "out of memory");
        png.resize(head + 12 * max_chunks + bound + 12);
        uint8_t *file = png.data();

        std::memcpy(file, PNG_SIGNATURE_BYTES, 8);
        uint8_t *ihdr = file + 16;
        put_be32(ihdr, view.width);
        put_be32(ihdr + 4, view.height);
        ihdr[8] = 8;  // bits per channel
        ihdr[9] = bpp == 4 ? 6 : bpp == 3 ? 2 : 3;
        ihdr[10] = ihdr[11] = ihdr[12] = 0;  // deflate, adaptive filtering, not interlaced
        size_t at = close_chunk(file, 8, "IHDR", 13);
        if (bpp == 1) {
            uint8_t *plte = file + at + 8;
            std::memset(plte, 0, 3 * size_t{entries});
            for (uint32_t i = 0; i < view.palette_count; ++i) {
                plte[3 * i] = view.palette[4 * i + 2];
                plte[3 * i + 1] = view.palette[4 * i + 1];
                plte[3 * i + 2] = view.palette[4 * i];
            }
            at = close_chunk(file, at, "PLTE", 3 * size_t{entries});
        }

        // The stream lies where the first IDAT's data goes; the chunks are then
        // moved apart from the last to the first, each 12 bytes further on
        // than the one before it, to make room for the chunks' framing.
        uint8_t *stream = file + at + 8;
        const size_t stream_size = libdeflate_zlib_compress(compressor.get(), filtered.get(),
                                                            static_cast<size_t>(filtered_size), stream, bound);
        if (stream_size == 0) {
            png.clear();
            return fail(error, "PNG encoder: the compressor failed");
        }
        const size_t chunks = (stream_size + IDAT_DATA_LIMIT - 1) / IDAT_DATA_LIMIT;
        for (size_t k = chunks; k-- > 1;) {
            const size_t size = std::min(IDAT_DATA_LIMIT, stream_size - k * IDAT_DATA_LIMIT);
            std::memmove(stream + k * (IDAT_DATA_LIMIT + 12), stream + k * IDAT_DATA_LIMIT, size);
        }
        for (size_t k = 0; k < chunks; ++k)
            at = close_chunk(file, at, "IDAT", std::min(IDAT_DATA_LIMIT, stream_size - k * IDAT_DATA_LIMIT));
        at = close_chunk(file, at, "IEND", 0);
        png.resize(at);
    } catch (const std::bad_alloc &) {
        png.clear();
        return fail(error, "out of memory");
    }
    return true;
}
