// bmp_reader.cpp: read_bmp. Uses bfOffBits, biWidth, biHeight and
// biBitCount; no other field is looked at. Rows come back bottom-up.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bmp.h"
#include "byte_order.h"
#include "fatal.h"
#include "file_util.h"
#include "platform.h"

namespace {

bool depth_refused(uint16_t bit_count, uint32_t flags) {
    return ((flags & BMP_IN_REJECT_8) && bit_count == 8) || ((flags & BMP_IN_REJECT_16) && bit_count == 16) ||
           ((flags & BMP_IN_REJECT_24) && bit_count == 24) || ((flags & BMP_IN_REJECT_32) && bit_count == 32);
}

// Reverses the order of the rows in place.
void flip_rows(uint8_t *pixels, uint64_t height, uint64_t stride) {
    std::vector<uint8_t> row(static_cast<size_t>(stride));
    for (uint64_t i = 0, j = height - 1; i < j; ++i, --j) {
        uint8_t *a = pixels + i * stride;
        uint8_t *b = pixels + j * stride;
        std::memcpy(row.data(), a, stride);
        std::memcpy(a, b, stride);
        std::memcpy(b, row.data(), stride);
    }
}

}  // namespace

BmpLoadStatus load_bmp(const std::string &name, PixelBuffer &picture, uint32_t flags, int &detail) {
    const int fd = platform_open(name, OPEN_READ_FLAGS, 0);
    if (fd == -1) {
        detail = errno;
        return BMP_CANNOT_OPEN;
    }
    const ScopedFile file(fd);
    uint8_t header[BMP_HEADER_SIZE] = {};
    platform_read(fd, header, sizeof header);

    const uint16_t bit_count = read_le16(header + 28);
    if (depth_refused(bit_count, flags)) {
        detail = bit_count;
        return BMP_REFUSED_DEPTH;
    }
    const uint32_t offset = read_le32(header + 10);
    const int32_t raw_width = read_le32s(header + 18);
    const int32_t raw_height = read_le32s(header + 22);
    const uint64_t width = static_cast<uint64_t>(std::llabs(static_cast<long long>(raw_width)));
    const uint64_t height = static_cast<uint64_t>(std::llabs(static_cast<long long>(raw_height)));
    const uint64_t bytes_per_pixel = bit_count / 8;
    const uint64_t stride = (width * bytes_per_pixel + 3) & ~uint64_t{3};
    const uint64_t size = height * stride;  // exact whenever stride passes the test below
    const bool expand = bytes_per_pixel == 1 && (flags & BMP_IN_EXPAND_PALETTE);
    if (stride > BMP_MAX_BUFFER || size > BMP_MAX_BUFFER || (expand && height * width * 3 > BMP_MAX_BUFFER))
        return BMP_TOO_LARGE;

    uint8_t table[BMP_PALETTE_ENTRIES * 4] = {};
    if (bytes_per_pixel == 1) platform_read(fd, table, sizeof table);

    std::unique_ptr<uint8_t[]> pixels(new uint8_t[static_cast<size_t>(size)]);
    size_t got = 0;
    if (platform_seek(fd, offset)) got = platform_read(fd, pixels.get(), static_cast<size_t>(size));
    std::memset(pixels.get() + got, 0, static_cast<size_t>(size) - got);

    if (raw_height < 0 && height > 1 && stride > 0) flip_rows(pixels.get(), height, stride);

    picture.width = static_cast<uint32_t>(width);
    picture.height = static_cast<uint32_t>(height);
    if (expand) {
        const uint64_t packed = width * 3;
        std::unique_ptr<uint8_t[]> rgb(new uint8_t[static_cast<size_t>(height * packed)]);
        // No pixels, no rows to walk: a height of 2^31 must not cost 2^31 steps.
        for (uint64_t j = 0; j < height && width > 0; ++j) {
            const uint8_t *src = pixels.get() + j * stride;
            uint8_t *dst = rgb.get() + j * packed;
            for (uint64_t x = 0; x < width; ++x) std::memcpy(dst + x * 3, table + src[x] * 4, 3);
        }
        picture.pixels = std::move(rgb);
        picture.bytes_per_pixel = 3;
        picture.stride = static_cast<int32_t>(packed);
        picture.size = static_cast<int32_t>(height * packed);
        return BMP_LOADED;
    }
    picture.pixels = std::move(pixels);
    picture.bytes_per_pixel = static_cast<int32_t>(bytes_per_pixel);
    picture.stride = static_cast<int32_t>(stride);
    picture.size = static_cast<int32_t>(size);
    return BMP_LOADED;
}

void exit_on_bmp_load_error(const std::string &name, BmpLoadStatus status, int detail) {
    if (status == BMP_CANNOT_OPEN) {
        const std::string reason = platform_error_text(detail);
        std::fprintf(stderr, "Could not open %s (%s)\n", name.c_str(), reason.c_str());
    } else if (status == BMP_REFUSED_DEPTH) {
        std::fprintf(stderr, "%s: Unsupported color depth (%d-bit)\n", name.c_str(), detail);
    } else {
        std::fprintf(stderr, "%s: image too large\n", name.c_str());
    }
    fatal_exit();
}

void read_bmp(const std::string &name, PixelBuffer &picture, uint32_t flags) {
    int detail = 0;
    const BmpLoadStatus status = load_bmp(name, picture, flags, detail);
    if (status != BMP_LOADED) exit_on_bmp_load_error(name, status, detail);
}
