// bmp_image.cpp: BMP file images in memory, to and from Picture records.
#include "bmp_image.h"

#include <cstring>
#include <new>

#include "byte_order.h"

namespace {

constexpr uint32_t FILE_HEADER_SIZE = 14;

bool refuse(std::string &error, const char *reason) {
    error = reason;
    return false;
}

}  // namespace

bool decode_bmp_image(const uint8_t *file, size_t size, Picture &out, std::string &error) {
    if (size < 2 || file[0] != 'B' || file[1] != 'M') return refuse(error, "not a BMP file");
    if (size < FILE_HEADER_SIZE + 40) return refuse(error, "truncated header");
    const uint32_t info_size = read_le32(file + 14);
    if (info_size < 40) return refuse(error, "unsupported BMP header");
    const uint64_t table_start = uint64_t{FILE_HEADER_SIZE} + info_size;
    if (table_start > size) return refuse(error, "truncated header");

    const uint32_t offset = read_le32(file + 10);
    const int64_t width = read_le32s(file + 18);
    const int64_t raw_height = read_le32s(file + 22);
    const uint16_t planes = read_le16(file + 26);
    const uint16_t bit_count = read_le16(file + 28);
    const uint32_t compression = read_le32(file + 30);
    const uint32_t colours_used = read_le32(file + 46);

    if (planes != 1) return refuse(error, "bad plane count");
    if (compression == 3 || compression == 6) return refuse(error, "bit-field BMP");
    if (compression != 0) return refuse(error, "compressed BMP");
    if (bit_count != 8 && bit_count != 24 && bit_count != 32) {
        error = std::to_string(bit_count) + "-bit BMP";
        return false;
    }
    if (width <= 0 || raw_height == 0) return refuse(error, "bad dimensions");

    const uint64_t height = static_cast<uint64_t>(raw_height < 0 ? -raw_height : raw_height);
    const uint64_t bytes_per_pixel = bit_count / 8;
    const uint64_t row_bytes = static_cast<uint64_t>(width) * bytes_per_pixel;
    const uint64_t stride = (row_bytes + 3) & ~uint64_t{3};
    if (stride > BMP_MAX_BUFFER || stride * height > BMP_MAX_BUFFER) return refuse(error, "picture too large");
    const uint64_t image_size = stride * height;
    if (offset < table_start) return refuse(error, "bad pixel offset");
    if (offset + image_size > size) return refuse(error, "shorter than its rows");

    Picture picture;
    if (bit_count == 8) {
        uint64_t entries =
            (colours_used == 0 || colours_used > BMP_PALETTE_ENTRIES) ? BMP_PALETTE_ENTRIES : colours_used;
        if (entries > (offset - table_start) / 4) entries = (offset - table_start) / 4;
        for (uint64_t i = 0; i < entries; ++i) std::memcpy(picture.palette + i * 4, file + table_start + i * 4, 3);
        picture.palette_count = static_cast<uint32_t>(entries);
    }
    picture.kind = bit_count == 8 ? PICTURE_INDEXED : bit_count == 24 ? PICTURE_RGB : PICTURE_RGBA;

    PixelBuffer &buffer = picture.buffer;
    buffer.pixels.reset(new (std::nothrow) uint8_t[static_cast<size_t>(image_size)]);
    if (!buffer.pixels) return refuse(error, "out of memory");
    for (uint64_t row = 0; row < height; ++row) {
        const uint64_t from = raw_height < 0 ? height - 1 - row : row;  // top-down files are stored flipped
        uint8_t *target = buffer.pixels.get() + row * stride;
        std::memcpy(target, file + offset + from * stride, static_cast<size_t>(row_bytes));
        std::memset(target + row_bytes, 0, static_cast<size_t>(stride - row_bytes));
    }
    buffer.width = static_cast<uint32_t>(width);
    buffer.height = static_cast<uint32_t>(height);
    buffer.bytes_per_pixel = static_cast<int32_t>(bytes_per_pixel);
    buffer.stride = static_cast<int32_t>(stride);
    buffer.size = static_cast<int32_t>(image_size);
    out = std::move(picture);
    return true;
}

void encode_bmp_image(const Picture &picture, std::vector<uint8_t> &file) {
    const PixelBuffer &buffer = picture.buffer;
    const uint32_t bytes_per_pixel = picture.kind == PICTURE_INDEXED ? 1 : picture.kind == PICTURE_RGB ? 3 : 4;
    BmpFileParts parts;
    build_bmp_file(buffer.pixels.get(), buffer.size, buffer.width, buffer.height, bytes_per_pixel,
                   picture.palette_count, picture.palette, 0, parts);
    file.resize(parts.head_size + parts.pixels_size);
    std::memcpy(file.data(), parts.head, parts.head_size);
    if (parts.pixels_size) std::memcpy(file.data() + parts.head_size, parts.pixels, parts.pixels_size);
}
