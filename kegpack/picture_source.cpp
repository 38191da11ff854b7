// picture_source.cpp: picture files as entry data. A BMP file goes in as
// its bytes; a PNG file as the BMP file the kit's writer makes of its
// pixels, so that kegsplit extracts exactly those pixels.
#include <cerrno>
#include <cstring>

#include "bmp.h"
#include "packing.h"
#include "png_image.h"

namespace {

// No picture an archive holds is larger than 2 GiB, nor its file much larger.
constexpr uint64_t PICTURE_FILE_LIMIT = uint64_t{BMP_MAX_BUFFER} + (uint64_t{1} << 26);

// The PNG colour type in the IHDR chunk, which follows the signature.
constexpr size_t PNG_COLOUR_TYPE_AT = 25;
constexpr uint8_t PNG_COLOUR_GREY = 0;

// The size of the BMP file encode_bmp_image writes for `picture`.
uint64_t bmp_file_size(const Picture &picture) {
    const PixelBuffer &b = picture.buffer;
    const uint64_t bytes_per_pixel = picture.kind == PICTURE_INDEXED ? 1 : picture.kind == PICTURE_RGB ? 3 : 4;
    uint64_t palette = 0;
    if (picture.kind == PICTURE_INDEXED)
        palette = 4 * uint64_t{picture.palette_count == 0 || picture.palette_count > BMP_PALETTE_ENTRIES
                                   ? BMP_PALETTE_ENTRIES
                                   : picture.palette_count};
    const uint64_t stride = (uint64_t{b.width} * bytes_per_pixel + 3) & ~uint64_t{3};
    return BMP_HEADER_SIZE + palette + stride * b.height;
}

bool encode_checked(const std::string &path, const Picture &picture, const ArchiveLayout &layout,
                    std::vector<uint8_t> &bmp, std::string &error) {
    if (!check_entry_size(path, bmp_file_size(picture), layout, error)) return false;
    encode_bmp_image(picture, bmp);
    return true;
}

}  // namespace

bool has_extension(const std::string &name, const char *lower_extension) {
    const size_t n = std::strlen(lower_extension);
    if (name.size() < n) return false;
    for (size_t i = 0; i < n; ++i) {
        char c = name[name.size() - n + i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != lower_extension[i]) return false;
    }
    return true;
}

bool read_picture_file(const std::string &path, const ArchiveLayout &layout, bool as_is, std::vector<uint8_t> &bytes,
                       std::string &error) {
    if (read_whole_file(path, bytes, error, as_is ? layout.length_mask : PICTURE_FILE_LIMIT)) return true;
    if (as_is && errno == EFBIG)
        error = path + ": too large for revision " + revision_of_layout(layout) + " (more than the " +
                std::to_string(layout.length_mask) + " bytes an entry holds)";
    return false;
}

bool check_entry_size(const std::string &path, uint64_t size, const ArchiveLayout &layout, std::string &error) {
    if (size <= layout.length_mask) return true;
    error = path + ": too large for revision " + revision_of_layout(layout) + " (" + std::to_string(size) +
            " bytes as BMP, more than the " + std::to_string(layout.length_mask) + " bytes an entry holds)";
    return false;
}

bool decode_png_file(const std::string &path, const std::vector<uint8_t> &png, Picture &picture, std::string &error) {
    std::string reason;
    if (decode_png(png.data(), png.size(), picture, reason)) return true;
    error = path + ": " + reason;
    return false;
}

bool picture_to_bmp(const std::string &path, const Picture &picture, const ArchiveLayout &layout,
                    std::vector<uint8_t> &bmp, std::string &error) {
    return encode_checked(path, picture, layout, bmp, error);
}

bool png_to_bmp(const std::string &path, const std::vector<uint8_t> &png, const ArchiveLayout &layout,
                std::vector<uint8_t> &bmp, std::string &error) {
    Picture picture;
    return decode_png_file(path, png, picture, error) && encode_checked(path, picture, layout, bmp, error);
}

bool mask_png_to_bmp(const std::string &path, const std::vector<uint8_t> &png, const ArchiveLayout &layout,
                     std::vector<uint8_t> &bmp, std::string &error) {
    Picture picture;
    if (!decode_png_file(path, png, picture, error)) return false;
    if (picture.kind == PICTURE_INDEXED) return encode_checked(path, picture, layout, bmp, error);
    // A grey PNG decodes to equal blue, green and red; without alpha, to RGB.
    if (picture.kind != PICTURE_RGB || png[PNG_COLOUR_TYPE_AT] != PNG_COLOUR_GREY) {
        error = path + ": a mask must be an indexed PNG, or a grey one without alpha";
        return false;
    }
    const PixelBuffer &grey = picture.buffer;
    Picture mask;
    mask.kind = PICTURE_INDEXED;
    mask.palette_count = BMP_PALETTE_ENTRIES;
    for (uint32_t k = 0; k < BMP_PALETTE_ENTRIES; ++k)
        mask.palette[4 * k] = mask.palette[4 * k + 1] = mask.palette[4 * k + 2] = static_cast<uint8_t>(k);
    PixelBuffer &b = mask.buffer;
    b.width = grey.width;
    b.height = grey.height;
    b.bytes_per_pixel = 1;
    b.stride = static_cast<int32_t>((uint64_t{grey.width} + 3) & ~uint64_t{3});
    b.size = static_cast<int32_t>(uint64_t{static_cast<uint32_t>(b.stride)} * grey.height);
    if (!check_entry_size(path, bmp_file_size(mask), layout, error)) return false;
    b.pixels.reset(new uint8_t[static_cast<size_t>(b.size)]());
    for (uint32_t row = 0; row < grey.height; ++row) {
        const uint8_t *from = grey.pixels.get() + size_t{row} * static_cast<size_t>(grey.stride);
        uint8_t *to = b.pixels.get() + size_t{row} * static_cast<size_t>(b.stride);
        for (uint32_t x = 0; x < grey.width; ++x) to[x] = from[3 * x];
    }
    encode_bmp_image(mask, bmp);
    return true;
}
