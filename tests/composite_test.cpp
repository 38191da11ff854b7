// composite_delta: the fit test and the blend, bit for bit.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "composite.h"
#include "test_support.h"

namespace {

PixelBuffer picture(uint32_t w, uint32_t h, int bpp, const Bytes &pixels = {}) {
    PixelBuffer p;
    p.width = w;
    p.height = h;
    p.bytes_per_pixel = bpp;
    p.stride = static_cast<int32_t>((w * bpp + 3) & ~3u);
    p.size = p.stride * static_cast<int32_t>(h);
    p.pixels.reset(new uint8_t[p.size]());
    if (!pixels.empty()) std::memcpy(p.pixels.get(), pixels.data(), std::min<size_t>(pixels.size(), p.size));
    return p;
}

Bytes blend_one(Bytes base_px, int base_bpp, Bytes delta_px) {
    PixelBuffer base = picture(1, 1, base_bpp, base_px);
    const PixelBuffer delta = picture(1, 1, static_cast<int>(delta_px.size()), delta_px);
    EXPECT_EQ(composite_delta(base, delta, 0, 0), COMPOSITE_APPLIED);
    return Bytes(base.pixels.get(), base.pixels.get() + base_bpp);
}

TEST(CompositeDelta, DocumentedPixels) {
    EXPECT_EQ(blend_one({40, 50, 60, 200}, 4, {1, 2, 3, 0}), (Bytes{40, 50, 60, 200}));
    EXPECT_EQ(blend_one({40, 50, 60, 37}, 4, {10, 20, 30, 255}), (Bytes{10, 20, 30, 255}));
    EXPECT_EQ(blend_one({40, 50, 60, 0}, 4, {10, 20, 30, 128}), (Bytes{10, 20, 30, 128}));
    EXPECT_EQ(blend_one({0, 100, 200}, 3, {200, 100, 0, 128}), (Bytes{100, 100, 99}));
    EXPECT_EQ(blend_one({0, 100, 200, 128}, 4, {200, 100, 0, 128}), (Bytes{134, 100, 65, 191}));
    EXPECT_EQ(blend_one({5, 5, 5, 7}, 4, {5, 5, 5, 1}), (Bytes{4, 4, 4, 7}));
    EXPECT_EQ(blend_one({0, 0, 0, 255}, 4, {255, 255, 255, 64}), (Bytes{64, 64, 64, 255}));
    EXPECT_EQ(blend_one({9, 8, 7, 0}, 4, {1, 2, 3, 0}), (Bytes{9, 8, 7, 0}));
    // A 3-byte delta is opaque.
    EXPECT_EQ(blend_one({9, 8, 7, 3}, 4, {1, 2, 3}), (Bytes{1, 2, 3, 255}));
}

// Every (a, b) pair with colours that exercise the rounding, against the
// plain reference; the fast paths (a = 0, a = 255, opaque base) included.
TEST(CompositeDelta, EveryAlphaPairMatchesTheReference) {
    const uint8_t colours[][2] = {{5, 5}, {0, 255}, {255, 0}, {200, 0}, {128, 127}, {1, 254}, {77, 201}};
    for (const auto &cd : colours) {
        PixelBuffer base = picture(256, 256, 4);
        PixelBuffer delta = picture(256, 256, 4);
        Bytes expect(base.size);
        for (int a = 0; a < 256; ++a) {
            for (int b = 0; b < 256; ++b) {
                uint8_t *bp = base.pixels.get() + a * base.stride + b * 4;
                uint8_t *dp = delta.pixels.get() + a * delta.stride + b * 4;
                bp[0] = cd[1]; bp[1] = static_cast<uint8_t>(cd[1] ^ 0x55); bp[2] = static_cast<uint8_t>(b); bp[3] = static_cast<uint8_t>(b);
                dp[0] = cd[0]; dp[1] = static_cast<uint8_t>(cd[0] ^ 0x33); dp[2] = static_cast<uint8_t>(a); dp[3] = static_cast<uint8_t>(a);
                uint8_t *ep = expect.data() + a * base.stride + b * 4;
                std::memcpy(ep, bp, 4);
                reference_blend(ep, 4, dp, 4);
            }
        }
        ASSERT_EQ(composite_delta(base, delta, 0, 0), COMPOSITE_APPLIED);
        ASSERT_EQ(Bytes(base.pixels.get(), base.pixels.get() + base.size), expect) << int(cd[0]) << "," << int(cd[1]);
    }
}

TEST(CompositeDelta, RandomPicturesOnThreeAndFourByteBases) {
    std::mt19937 rng(3);
    for (int base_bpp : {3, 4}) {
        for (int delta_bpp : {3, 4}) {
            PixelBuffer base = picture(13, 9, base_bpp);
            PixelBuffer delta = picture(7, 5, delta_bpp);
            for (int32_t i = 0; i < base.size; ++i) base.pixels[i] = static_cast<uint8_t>(rng());
            for (int32_t i = 0; i < delta.size; ++i) delta.pixels[i] = static_cast<uint8_t>(rng() % 3 ? rng() : (rng() & 1) * 255);
            Bytes expect(base.pixels.get(), base.pixels.get() + base.size);
            const int dx = 4, dy = 3;
            for (uint32_t j = 0; j < delta.height; ++j)
                for (uint32_t i = 0; i < delta.width; ++i) {
                    const uint32_t r = base.height - delta.height - dy + j;
                    reference_blend(expect.data() + r * base.stride + (i + dx) * base_bpp, base_bpp,
                                    delta.pixels.get() + j * delta.stride + i * delta_bpp, delta_bpp);
                }
            ASSERT_EQ(composite_delta(base, delta, dx, dy), COMPOSITE_APPLIED);
            EXPECT_EQ(Bytes(base.pixels.get(), base.pixels.get() + base.size), expect) << base_bpp << delta_bpp;
        }
    }
}

TEST(CompositeDelta, FitTestIsExact) {
    PixelBuffer base = picture(4, 3, 4);
    const Bytes before(base.pixels.get(), base.pixels.get() + base.size);
    PixelBuffer full = picture(4, 3, 4, Bytes(48, 255));
    EXPECT_EQ(composite_delta(base, picture(5, 3, 4), 0, 0), COMPOSITE_NO_FIT);
    EXPECT_EQ(composite_delta(base, picture(4, 3, 4), 1, 0), COMPOSITE_NO_FIT);
    EXPECT_EQ(composite_delta(base, picture(4, 4, 4), 0, 0), COMPOSITE_NO_FIT);
    EXPECT_EQ(composite_delta(base, picture(4, 3, 4), 0, 1), COMPOSITE_NO_FIT);
    // Negative offsets that an unsigned sum would let through.
    EXPECT_EQ(composite_delta(base, picture(2, 2, 4), -1, 0), COMPOSITE_NO_FIT);
    EXPECT_EQ(composite_delta(base, picture(2, 2, 4), 0, -1), COMPOSITE_NO_FIT);
    EXPECT_EQ(composite_delta(base, picture(2, 2, 4), -4294967296LL + 1, 0), COMPOSITE_NO_FIT);
    EXPECT_EQ(Bytes(base.pixels.get(), base.pixels.get() + base.size), before);
    EXPECT_EQ(composite_delta(base, full, 0, 0), COMPOSITE_APPLIED);
    EXPECT_EQ(base.pixels[0], 255);
}

TEST(CompositeDelta, TopRowIsTheLastBufferRow) {
    PixelBuffer base = picture(2, 3, 3);
    const PixelBuffer delta = picture(1, 1, 4, {9, 9, 9, 255});
    ASSERT_EQ(composite_delta(base, delta, 1, 0), COMPOSITE_APPLIED);
    EXPECT_EQ(base.pixels[2 * base.stride + 3], 9);
    EXPECT_EQ(base.pixels[2 * base.stride + 0], 0);
    EXPECT_EQ(base.pixels[0 * base.stride + 3], 0);
}

TEST(CompositeDelta, OtherDepthsAreRefusedAfterTheFitTest) {
    PixelBuffer base = picture(4, 4, 4);
    EXPECT_EQ(composite_delta(base, picture(2, 2, 1), 0, 0), COMPOSITE_BAD_DEPTH);
    EXPECT_EQ(composite_delta(base, picture(2, 2, 2), 0, 0), COMPOSITE_BAD_DEPTH);
    EXPECT_EQ(composite_delta(base, picture(5, 2, 1), 0, 0), COMPOSITE_NO_FIT);
    PixelBuffer grey = picture(4, 4, 1);
    EXPECT_EQ(composite_delta(grey, picture(2, 2, 4), 0, 0), COMPOSITE_BAD_DEPTH);
    // A picture of 0 bytes per pixel (a 1- or 4-bit file) has no buffer at all.
    PixelBuffer none;
    none.width = 3;
    none.height = 3;
    EXPECT_EQ(composite_delta(base, none, 0, 0), COMPOSITE_BAD_DEPTH);
}

TEST(CompositeDelta, EmptyDeltaChangesNothing) {
    PixelBuffer base = picture(2, 2, 4, Bytes(16, 7));
    PixelBuffer empty;
    empty.bytes_per_pixel = 4;
    EXPECT_EQ(composite_delta(base, empty, 2, 2), COMPOSITE_APPLIED);
    EXPECT_EQ(Bytes(base.pixels.get(), base.pixels.get() + 16), Bytes(16, 7));
}

}  // namespace
