// BMP writer: headers, sizes and every conversion flag.
#include <gtest/gtest.h>

#include "bmp.h"
#include "test_support.h"

namespace {

Bytes write_and_load(const uint8_t *data, int32_t length, uint32_t w, uint32_t h, uint32_t bpp,
                     uint32_t palette_count, const uint8_t *palette, uint32_t flags) {
    TempDir dir;
    const std::string path = dir.file("w.bmp");
    write_bmp(path, data, length, w, h, bpp, palette_count, palette, flags);
    return read_file_bytes(path);
}

uint16_t get_le16(const Bytes &b, size_t at) { return static_cast<uint16_t>(b[at] | (b[at + 1] << 8)); }

TEST(WriteBmp, FourBytesNoFlagsWritesTheBufferAsIs) {
    uint8_t px[24];
    for (int i = 0; i < 24; ++i) px[i] = static_cast<uint8_t>(i + 1);
    const Bytes f = write_and_load(px, 24, 3, 2, 4, 0, nullptr, 0);
    ASSERT_EQ(f.size(), 78u);
    EXPECT_EQ(f[0], 'B');
    EXPECT_EQ(f[1], 'M');
    EXPECT_EQ(get_le32(f, 2), 78u);
    EXPECT_EQ(get_le32(f, 6), 0u);
    EXPECT_EQ(get_le32(f, 10), 54u);
    EXPECT_EQ(get_le32(f, 14), 40u);
    EXPECT_EQ(get_le32(f, 18), 3u);
    EXPECT_EQ(get_le32(f, 22), 2u);
    EXPECT_EQ(get_le16(f, 26), 1);
    EXPECT_EQ(get_le16(f, 28), 32);
    for (size_t at = 30; at < 54; at += 4) EXPECT_EQ(get_le32(f, at), 0u) << at;
    EXPECT_TRUE(std::equal(px, px + 24, f.begin() + 54));
}

TEST(WriteBmp, HeadersForOneToFourBytesPerPixel) {
    const Bytes px(64, 9);
    for (uint32_t bpp = 1; bpp <= 4; ++bpp) {
        const uint32_t stride = (3 * bpp + 3) & ~3u;
        const Bytes f = write_and_load(px.data(), static_cast<int32_t>(stride * 2), 3, 2, bpp, 0, nullptr, 0);
        const uint32_t palette = bpp == 1 ? 1024 : 0;
        EXPECT_EQ(f.size(), 54 + palette + stride * 2) << bpp;
        EXPECT_EQ(get_le32(f, 2), f.size());
        EXPECT_EQ(get_le32(f, 10), 54 + palette);
        EXPECT_EQ(get_le16(f, 28), bpp * 8);
    }
}

TEST(WriteBmp, GreyRampAndCallerPalettes) {
    const uint8_t px[4] = {0, 1, 2, 3};
    Bytes f = write_and_load(px, 4, 4, 1, 1, 0, nullptr, 0);
    ASSERT_EQ(f.size(), 54u + 1024 + 4);
    EXPECT_EQ(get_le32(f, 10), 1078u);
    EXPECT_EQ(get_le32(f, 46), 0u);  // biClrUsed stays 0
    for (uint32_t i = 0; i < 256; ++i) {
        EXPECT_EQ(f[54 + 4 * i], i);
        EXPECT_EQ(f[57 + 4 * i], 0);
    }

    uint8_t palette[64];
    for (int i = 0; i < 64; ++i) palette[i] = static_cast<uint8_t>(200 - i);
    f = write_and_load(px, 4, 4, 1, 1, 16, palette, 0);
    ASSERT_EQ(f.size(), 118u + 4);
    EXPECT_EQ(get_le32(f, 10), 118u);
    EXPECT_EQ(get_le32(f, 2), 122u);
    EXPECT_TRUE(std::equal(palette, palette + 64, f.begin() + 54));

    // A full caller palette of 256 entries replaces the ramp entirely.
    Bytes full(1024, 0x5C);
    f = write_and_load(px, 4, 4, 1, 1, 0, full.data(), 0);
    EXPECT_TRUE(std::equal(full.begin(), full.end(), f.begin() + 54));

    // At 3 and 4 bytes per pixel a palette is ignored.
    f = write_and_load(px, 4, 1, 1, 4, 16, palette, 0);
    EXPECT_EQ(f.size(), 58u);
}

TEST(WriteBmp, LengthIsWrittenAsGivenWithoutConversion) {
    const Bytes px(40, 3);
    const Bytes f = write_and_load(px.data(), 40, 3, 2, 3, 0, nullptr, 0);  // height x stride is 24
    EXPECT_EQ(f.size(), 94u);
    EXPECT_EQ(get_le32(f, 2), 94u);
}

TEST(WriteBmp, FlipRowsPutsTheFirstBufferRowLast) {
    const uint8_t px[16] = {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0};
    const Bytes f = write_and_load(px, 99, 2, 2, 3, 0, nullptr, BMP_OUT_FLIP_ROWS);
    ASSERT_EQ(f.size(), 54u + 16);  // converted: height x stride, whatever the length said
    EXPECT_EQ(f[54], 7);
    EXPECT_EQ(f[62], 1);
}

TEST(WriteBmp, SwapRedBlueOnlyFromThreeBytes) {
    const uint8_t px3[8] = {1, 2, 3, 4, 5, 6, 0, 0};
    Bytes f = write_and_load(px3, 8, 2, 1, 3, 0, nullptr, BMP_OUT_SWAP_RB);
    EXPECT_EQ(Bytes(f.begin() + 54, f.end()), (Bytes{3, 2, 1, 6, 5, 4, 0, 0}));

    const uint8_t px2[4] = {1, 2, 3, 4};
    f = write_and_load(px2, 4, 2, 1, 2, 0, nullptr, BMP_OUT_SWAP_RB);
    EXPECT_EQ(Bytes(f.begin() + 54, f.end()), (Bytes{1, 2, 3, 4}));
}

TEST(WriteBmp, PackedRowsArePaddedWithZeros) {
    uint8_t px[18];
    for (int i = 0; i < 18; ++i) px[i] = static_cast<uint8_t>(i + 1);
    const Bytes f = write_and_load(px, 18, 3, 2, 3, 0, nullptr, BMP_OUT_PACKED_ROWS);
    ASSERT_EQ(f.size(), 54u + 24);
    EXPECT_EQ(Bytes(f.begin() + 54, f.end()),
              (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 0, 10, 11, 12, 13, 14, 15, 16, 17, 18, 0, 0, 0}));
}

TEST(WriteBmp, ReverseBytesReversesPixelsAndPaletteEntries) {
    const uint8_t px4[4] = {1, 2, 3, 4};
    Bytes f = write_and_load(px4, 4, 1, 1, 4, 0, nullptr, BMP_OUT_REVERSE_BYTES);
    EXPECT_EQ(Bytes(f.begin() + 54, f.end()), (Bytes{4, 3, 2, 1}));
    f = write_and_load(px4, 4, 1, 1, 4, 0, nullptr, BMP_OUT_REVERSE_BYTES | BMP_OUT_SWAP_RB);
    EXPECT_EQ(Bytes(f.begin() + 54, f.end()), (Bytes{2, 3, 4, 1}));

    // At 1 byte per pixel: a copy with the rows unchanged, and the ramp reversed.
    const uint8_t px1[3] = {7, 8, 9};
    f = write_and_load(px1, 3, 3, 1, 1, 0, nullptr, BMP_OUT_REVERSE_BYTES);
    ASSERT_EQ(f.size(), 54u + 1024 + 4);
    EXPECT_EQ(Bytes(f.begin() + 54 + 4 * 200, f.begin() + 54 + 4 * 201), (Bytes{0, 200, 200, 200}));
    EXPECT_EQ(Bytes(f.begin() + 1078, f.end()), (Bytes{7, 8, 9, 0}));
}

TEST(WriteBmp, UncreatableFileEndsTheRun) {
    const std::string path = "no-such-folder/dir.bmp";
    const uint8_t px[4] = {};
    EXPECT_EXIT(write_bmp(path, px, 4, 1, 1, 4, 0), testing::ExitedWithCode(FATAL_EXIT_CODE),
                whole_line_pattern("Could not open " + path + " (No such file or directory)"));
}

}  // namespace
