// BMP reader: every depth, top-down files, palette expansion, refused
// depths, short and oversized files, and files written by ImageMagick.
#include <gtest/gtest.h>

#include <cstdlib>

#include "bmp.h"
#include "test_support.h"

namespace {

// A BMP file image with any header values and `pixels` right after the
// headers (and a 1024-byte palette at 8 bits).
Bytes bmp_file(int32_t width, int32_t height, uint16_t bits, const Bytes &pixels, const Bytes &palette = {}) {
    Bytes f(54 + palette.size() + pixels.size(), 0);
    std::copy(palette.begin(), palette.end(), f.begin() + 54);
    std::copy(pixels.begin(), pixels.end(), f.begin() + 54 + static_cast<long>(palette.size()));
    f[0] = 'B';
    f[1] = 'M';
    put_le32(f, 10, static_cast<uint32_t>(54 + palette.size()));
    put_le32(f, 14, 40);
    put_le32(f, 18, static_cast<uint32_t>(width));
    put_le32(f, 22, static_cast<uint32_t>(height));
    f[26] = 1;
    f[28] = static_cast<uint8_t>(bits);
    f[29] = static_cast<uint8_t>(bits >> 8);
    put_le32(f, 2, static_cast<uint32_t>(f.size()));
    return f;
}

PixelBuffer load(const Bytes &file, uint32_t flags = 0) {
    TempDir dir;
    write_file_bytes(dir.file("p.bmp"), file);
    PixelBuffer picture;
    read_bmp(dir.file("p.bmp"), picture, flags);
    return picture;
}

Bytes pixels_of(const PixelBuffer &p) { return Bytes(p.pixels.get(), p.pixels.get() + p.size); }

Bytes counting(size_t n, uint8_t start = 1) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(start + i);
    return b;
}

TEST(ReadBmp, BottomUpTwentyFourBit) {
    const Bytes px = counting(24);
    const PixelBuffer p = load(bmp_file(3, 2, 24, px));
    EXPECT_EQ(p.width, 3u);
    EXPECT_EQ(p.height, 2u);
    EXPECT_EQ(p.bytes_per_pixel, 3);
    EXPECT_EQ(p.stride, 12);
    EXPECT_EQ(p.size, 24);
    EXPECT_EQ(pixels_of(p), px);
}

TEST(ReadBmp, TopDownGivesTheSameBufferAsBottomUp) {
    const Bytes bottom_up = counting(36);  // three rows of 12
    Bytes top_down;
    for (int r = 2; r >= 0; --r) top_down.insert(top_down.end(), bottom_up.begin() + r * 12, bottom_up.begin() + r * 12 + 12);
    const PixelBuffer a = load(bmp_file(3, 3, 24, bottom_up));
    const PixelBuffer b = load(bmp_file(3, -3, 24, top_down));
    EXPECT_EQ(b.height, 3u);
    EXPECT_EQ(pixels_of(a), pixels_of(b));
}

TEST(ReadBmp, DepthsAndStrides) {
    struct Case { uint16_t bits; int32_t bpp; int32_t stride; };  // width 5
    for (const Case c : {Case{8, 1, 8}, Case{16, 2, 12}, Case{24, 3, 16}, Case{32, 4, 20}, Case{1, 0, 0},
                         Case{4, 0, 0}, Case{0, 0, 0}, Case{7, 0, 0}, Case{64, 8, 40}}) {
        const PixelBuffer p = load(bmp_file(5, 2, c.bits, counting(100)));
        EXPECT_EQ(p.bytes_per_pixel, c.bpp) << c.bits;
        EXPECT_EQ(p.stride, c.stride) << c.bits;
        EXPECT_EQ(p.size, 2 * c.stride) << c.bits;
    }
}

TEST(ReadBmp, NegativeWidthIsNotMirrored) {
    const Bytes px = counting(12);
    const PixelBuffer p = load(bmp_file(-3, 1, 24, px));
    EXPECT_EQ(p.width, 3u);
    EXPECT_EQ(pixels_of(p), px);
}

TEST(ReadBmp, EightBitIndicesAndPaletteExpansion) {
    Bytes palette(1024, 0);
    for (int k = 0; k < 256; ++k) {
        palette[4 * k] = static_cast<uint8_t>(k);
        palette[4 * k + 1] = static_cast<uint8_t>(255 - k);
        palette[4 * k + 2] = static_cast<uint8_t>(k / 2);
    }
    const Bytes px = {10, 20, 30, 40, 50, 0, 0, 0, 60, 70, 80, 90, 100, 0, 0, 0};
    const PixelBuffer plain = load(bmp_file(5, 2, 8, px, palette));
    EXPECT_EQ(plain.bytes_per_pixel, 1);
    EXPECT_EQ(plain.stride, 8);
    EXPECT_EQ(pixels_of(plain), px);

    const PixelBuffer rgb = load(bmp_file(5, 2, 8, px, palette), BMP_IN_EXPAND_PALETTE);
    EXPECT_EQ(rgb.bytes_per_pixel, 3);
    EXPECT_EQ(rgb.stride, 15);
    EXPECT_EQ(rgb.size, 30);
    const Bytes got = pixels_of(rgb);
    EXPECT_EQ(Bytes(got.begin(), got.begin() + 3), (Bytes{10, 245, 5}));
    EXPECT_EQ(Bytes(got.begin() + 27, got.end()), (Bytes{100, 155, 50}));

    // Expansion changes nothing above 8 bits.
    const PixelBuffer deep = load(bmp_file(2, 1, 24, counting(8)), BMP_IN_EXPAND_PALETTE);
    EXPECT_EQ(deep.bytes_per_pixel, 3);
    EXPECT_EQ(pixels_of(deep), counting(8));
}

// Death tests name their files relative to the folder they work in: where
// the child process runs the test body again, it makes a folder of its own.
TEST(ReadBmp, RefusedDepthEndsTheRun) {
    TempDir dir;
    const ScopedChdir in(dir.path);
    const std::string path = "r.bmp";
    write_file_bytes(path, bmp_file(1, 1, 24, counting(4)));
    PixelBuffer p;
    EXPECT_EXIT(read_bmp(path, p, BMP_IN_REJECT_24), testing::ExitedWithCode(FATAL_EXIT_CODE),
                whole_line_pattern(path + ": Unsupported color depth (24-bit)"));
    read_bmp(path, p, BMP_IN_REJECT_32 | BMP_IN_REJECT_8 | BMP_IN_REJECT_16);
    EXPECT_EQ(p.bytes_per_pixel, 3);
}

TEST(ReadBmp, ShortFilesReadAsZero) {
    // Pixels missing at the end.
    Bytes f = bmp_file(2, 2, 32, counting(10));
    const PixelBuffer p = load(f);
    Bytes expect = counting(10);
    expect.resize(16, 0);
    EXPECT_EQ(pixels_of(p), expect);

    // Only part of the header: the missing fields are zero, so no pixels.
    const PixelBuffer q = load(Bytes(f.begin(), f.begin() + 20));
    EXPECT_EQ(q.width, 2u);
    EXPECT_EQ(q.height, 0u);
    EXPECT_EQ(q.size, 0);

    // Pixel data that starts past the end of the file.
    Bytes far = bmp_file(1, 1, 24, counting(4));
    put_le32(far, 10, 0x7FFFFFF0);
    EXPECT_EQ(pixels_of(load(far)), Bytes(4, 0));

    // An empty file.
    const PixelBuffer empty = load({});
    EXPECT_EQ(empty.size, 0);
    EXPECT_EQ(empty.width, 0u);
}

TEST(ReadBmp, HugeDimensionsEndTheRunBeforeAllocating) {
    TempDir dir;
    const ScopedChdir in(dir.path);
    const std::string path = "huge.bmp";
    PixelBuffer p;
    write_file_bytes(path, bmp_file(30000, 30000, 24, {}));
    EXPECT_EXIT(read_bmp(path, p, 0), testing::ExitedWithCode(FATAL_EXIT_CODE), whole_line_pattern(path + ": image too large"));
    write_file_bytes(path, bmp_file(1, INT32_MIN, 32, {}));
    EXPECT_EXIT(read_bmp(path, p, 0), testing::ExitedWithCode(FATAL_EXIT_CODE), "image too large");
    // A height of 2^31 with no bytes per row is an empty picture, not a fault.
    write_file_bytes(path, bmp_file(1, INT32_MIN, 4, {}));
    read_bmp(path, p, 0);
    EXPECT_EQ(p.height, 0x80000000u);
    EXPECT_EQ(p.size, 0);
}

TEST(ReadBmp, MissingFileEndsTheRun) {
    PixelBuffer p;
    EXPECT_EXIT(read_bmp("/nonexistent/x.bmp", p, 0), testing::ExitedWithCode(FATAL_EXIT_CODE),
                whole_line_pattern("Could not open /nonexistent/x.bmp (No such file or directory)"));
}

TEST(ReadBmp, WriteThenReadGivesTheSamePixels) {
    TempDir dir;
    for (uint32_t bpp = 1; bpp <= 4; ++bpp) {
        const uint32_t stride = (7 * bpp + 3) & ~3u;
        const Bytes px = counting(stride * 5, static_cast<uint8_t>(bpp));
        write_bmp(dir.file("rt.bmp"), px.data(), static_cast<int32_t>(px.size()), 7, 5, bpp, 0);
        PixelBuffer p;
        read_bmp(dir.file("rt.bmp"), p, 0);
        EXPECT_EQ(p.bytes_per_pixel, static_cast<int32_t>(bpp));
        EXPECT_EQ(pixels_of(p), px);
    }
}

// Files written by ImageMagick, checked against ImageMagick's own raw dump
// of the same file (top-down, unpadded).
class ImageMagickFiles : public testing::Test {
protected:
    void SetUp() override {
        if (std::system("/usr/bin/convert -version > /dev/null 2>&1") != 0)
            GTEST_SKIP() << "ImageMagick is not installed";
    }
    std::string convert(const std::string &args) {
        const std::string command = "cd " + dir.path + " && /usr/bin/convert " + args + " 2>/dev/null";
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        return command;
    }
    // Our bottom-up, padded buffer as top-down unpadded rows of `bpp` bytes.
    static Bytes top_down_rows(const PixelBuffer &p) {
        Bytes rows;
        for (uint32_t r = p.height; r-- > 0;) {
            const uint8_t *row = p.pixels.get() + r * static_cast<size_t>(p.stride);
            rows.insert(rows.end(), row, row + p.width * p.bytes_per_pixel);
        }
        return rows;
    }
    TempDir dir;
};

TEST_F(ImageMagickFiles, TwentyFourBit) {
    convert("rose: -type TrueColor BMP3:rose24.bmp");
    convert("rose24.bmp bgr:rose24.raw");
    PixelBuffer p;
    read_bmp(dir.file("rose24.bmp"), p, 0);
    EXPECT_EQ(p.width, 70u);
    EXPECT_EQ(p.height, 46u);
    EXPECT_EQ(p.bytes_per_pixel, 3);
    EXPECT_EQ(top_down_rows(p), read_file_bytes(dir.file("rose24.raw")));
}

TEST_F(ImageMagickFiles, ThirtyTwoBitWithAlpha) {
    convert("rose: -alpha set -channel A -fx 'i/w' +channel -define bmp:format=bmp4 BMP:rose32.bmp");
    convert("rose32.bmp bgra:rose32.raw");
    PixelBuffer p;
    read_bmp(dir.file("rose32.bmp"), p, 0);
    EXPECT_EQ(p.bytes_per_pixel, 4);
    EXPECT_EQ(top_down_rows(p), read_file_bytes(dir.file("rose32.raw")));
}

TEST_F(ImageMagickFiles, EightBitPaletteExpanded) {
    convert("rose: -type Palette -compress None BMP3:rose8.bmp");
    convert("rose8.bmp bgr:rose8.raw");
    PixelBuffer p;
    read_bmp(dir.file("rose8.bmp"), p, 0);
    EXPECT_EQ(p.bytes_per_pixel, 1);
    read_bmp(dir.file("rose8.bmp"), p, BMP_IN_EXPAND_PALETTE);
    EXPECT_EQ(p.bytes_per_pixel, 3);
    EXPECT_EQ(top_down_rows(p), read_file_bytes(dir.file("rose8.raw")));
}

}  // namespace
