// Chunk decoders: the documented byte vectors, window wrap-around, overlap,
// every prefix of a stream, capacity limits, and round trips.
#include <gtest/gtest.h>

#include <random>

#include "../bench/reference_decoders.h"
#include "decoders.h"
#include "test_support.h"

namespace {

Bytes lzss(const Bytes &in, size_t capacity, size_t *written = nullptr) {
    Bytes out(capacity + 1, 0xEE);  // one canary byte past the capacity
    const size_t n = decode_lzss(out.data(), capacity, in.data(), in.size());
    EXPECT_EQ(out[capacity], 0xEE) << "wrote past the capacity";
    out.resize(n);
    if (written) *written = n;
    return out;
}

Bytes rle(const Bytes &in, size_t capacity) {
    Bytes out(capacity + 1, 0xEE);
    const size_t n = decode_rle(out.data(), capacity, in.data(), in.size());
    EXPECT_EQ(out[capacity], 0xEE) << "wrote past the capacity";
    out.resize(n);
    return out;
}

TEST(DecodeLzss, DocumentedVectors) {
    EXPECT_EQ(lzss({0x01, 0x41, 0xEE, 0xF2}, 100), Bytes(6, 0x41));  // overlap repeats the literal
    EXPECT_EQ(lzss({0x00, 0x00, 0x00}, 100), Bytes(3, 0x00));        // fresh window is zero

    Bytes eight = {0xFF, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x00, 0xEE, 0xF0};
    Bytes expect = {0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x41, 0x42, 0x43};
    EXPECT_EQ(lzss(eight, 100), expect);

    size_t n = 0;
    EXPECT_EQ(lzss({0x01, 0x41, 0xEE, 0xFF}, 4, &n), Bytes(4, 0x41));
    EXPECT_EQ(n, 4u);
    EXPECT_EQ(lzss({0x01, 0x41, 0xEE}, 100), Bytes{0x41});  // lone trailing byte is no reference
    EXPECT_EQ(lzss({0xFF, 0x01, 0x02}, 100), (Bytes{0x01, 0x02}));
    EXPECT_EQ(lzss({0x01, 0x07, 0x00}, 100), Bytes{0x07});  // one byte left: no reference
    EXPECT_EQ(lzss({0xFF, 1, 2, 3, 4, 5, 6, 7, 8, 0xFF}, 100), (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));  // ends after a flag byte
    EXPECT_EQ(lzss({}, 100), Bytes{});
    EXPECT_EQ(lzss({0xFF, 1, 2, 3}, 0), Bytes{});
}

TEST(DecodeLzss, ReferenceWrapsAroundTheWindowEnd) {
    Bytes in = {0xFF};
    for (uint8_t v = 0x01; v <= 0x08; ++v) in.push_back(v);
    in.push_back(0xFF);
    for (uint8_t v = 0x09; v <= 0x10; ++v) in.push_back(v);
    in.push_back(0x0F);
    for (uint8_t v = 0x11; v <= 0x14; ++v) in.push_back(v);
    in.push_back(0xFF);
    in.push_back(0xF0);  // position 4095, length 3
    Bytes expect;
    for (uint8_t v = 0x01; v <= 0x14; ++v) expect.push_back(v);
    expect.insert(expect.end(), {0x12, 0x13, 0x14});
    EXPECT_EQ(lzss(in, 100), expect);
}

TEST(DecodeLzss, FarReferencesReachOldOutputAndInitialZeros) {
    // 5000 literals, then references 4096 back (distance 0 mod 4096) and to
    // a position that was last written 10 bytes ago.
    Bytes data(5000);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + 3);
    Bytes in = encode_lzss_literals(data);
    const size_t out_pos = data.size();
    const size_t r = (4078 + out_pos) % 4096;
    in.push_back(0x00);  // next eight items are references
    in.push_back(static_cast<uint8_t>(r & 0xFF));
    in.push_back(static_cast<uint8_t>(((r >> 4) & 0xF0) | 15));  // the byte at r itself: 4096 back
    Bytes expect = data;
    for (size_t j = 0; j < 18; ++j) expect.push_back(expect[expect.size() - 4096]);
    EXPECT_EQ(lzss(in, 10000), expect);

    // In a fresh window, position 4077 was never written (zero) and 4078 on
    // hold the first output bytes.
    Bytes early = {0xFF, 1, 2, 3, 4, 5, 6, 7, 8, 0x00, 0xED, 0xF0};
    EXPECT_EQ(lzss(early, 100), (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 0, 1, 2}));
}

TEST(DecodeLzss, EveryPrefixStopsCleanly) {
    Bytes data(3000);
    std::mt19937 rng(7);
    for (auto &b : data) b = static_cast<uint8_t>(rng() % 4);
    const Bytes packed = encode_lzss_simple(data);
    ASSERT_EQ(lzss(packed, data.size()), data);
    for (size_t len = 0; len <= packed.size(); len += 1 + len / 64) {
        Bytes prefix(packed.begin(), packed.begin() + len);
        const Bytes got = lzss(prefix, data.size());
        ASSERT_LE(got.size(), data.size());
        EXPECT_TRUE(std::equal(got.begin(), got.end(), data.begin())) << "prefix " << len;
    }
    for (size_t cap = 0; cap < 40; ++cap) EXPECT_EQ(lzss(packed, cap), Bytes(data.begin(), data.begin() + cap));
}

TEST(DecodeLzss, RoundTripsRandomAndRepetitiveData) {
    std::mt19937 rng(11);
    for (int round = 0; round < 20; ++round) {
        Bytes data(rng() % 9000);
        const unsigned alphabet = 1 + rng() % 200;
        for (auto &b : data) b = static_cast<uint8_t>(rng() % alphabet);
        EXPECT_EQ(lzss(encode_lzss_simple(data), data.size()), data);
        EXPECT_EQ(lzss(encode_lzss_literals(data), data.size()), data);
    }
}

// decode_lzss and the plain ring-window decoder agree, in count and bytes,
// on random bytes and on streams made to hit the fast path's corners:
// references into the zeroed window before the output, overlapping ones of
// every short distance, far ones, and capacities that end inside a match.
TEST(DecodeLzss, AgreesWithThePlainDecoder) {
    std::mt19937 rng(29);
    const auto agree = [](const Bytes &in, size_t capacity) {
        Bytes got(capacity + 32, 0xEE), want(capacity + 1);
        const size_t n = decode_lzss(got.data(), capacity, in.data(), in.size());
        const size_t m = reference_decode_lzss(want.data(), capacity, in.data(), in.size());
        ASSERT_EQ(n, m) << capacity;
        EXPECT_TRUE(std::equal(want.begin(), want.begin() + static_cast<long>(m), got.begin())) << capacity;
        EXPECT_EQ(Bytes(got.begin() + static_cast<long>(capacity), got.end()), Bytes(32, 0xEE));
    };
    for (int round = 0; round < 200; ++round) {
        Bytes in(rng() % 4000);
        for (auto &b : in) b = static_cast<uint8_t>(rng());
        agree(in, rng() % 30000);
    }
    for (int round = 0; round < 300; ++round) {
        Bytes in;
        size_t out = 0;  // bytes the stream describes so far
        const unsigned literal_share = rng() % 256;
        while (out < 12000) {
            unsigned flags = 0;
            for (int bit = 0; bit < 8; ++bit) flags |= (rng() % 256 < literal_share ? 1u : 0u) << bit;
            in.push_back(static_cast<uint8_t>(flags));
            for (int bit = 0; bit < 8; ++bit) {
                if (flags >> bit & 1) {
                    in.push_back(static_cast<uint8_t>(rng() % 4));
                    ++out;
                    continue;
                }
                const unsigned kind = rng() % 4;
                const size_t distance = kind == 0   ? 1 + rng() % 25                 // overlapping or near
                                        : kind == 1 ? out + 1 + rng() % 200          // into the zeroed start
                                        : kind == 2 ? LZSS_WINDOW_SIZE - rng() % 40  // the far end
                                                    : 1 + rng() % LZSS_WINDOW_SIZE;
                const size_t position =
                    (LZSS_START_POSITION + out + LZSS_WINDOW_SIZE * 2 - distance) % LZSS_WINDOW_SIZE;
                const unsigned length = rng() % 16;
                in.push_back(static_cast<uint8_t>(position));
                in.push_back(static_cast<uint8_t>((position >> 4 & 0xF0) | length));
                out += length + 3;
            }
        }
        agree(in, out);
        agree(in, out - 1 - rng() % 17);  // ends inside the last items
        agree(in, rng() % out);
        agree(Bytes(in.begin(), in.end() - 1 - rng() % 3), out);  // the stream cut short
    }
}

TEST(DecodeRle, DocumentedVectors) {
    Bytes in = {0x03, 0x41, 0x00, 0x02, 0x42, 0x43, 0x00, 0x00, 0x02, 0x44};
    EXPECT_EQ(rle(in, 7), (Bytes{0x41, 0x41, 0x41, 0x42, 0x43, 0x44, 0x44}));
    EXPECT_EQ(rle({0x80, 0x11}, 1000), Bytes(128, 0x11));
    EXPECT_EQ(rle({0xFF, 0x22}, 1000), Bytes(255, 0x22));
    EXPECT_EQ(rle({0xFF, 0x22}, 0), Bytes{});
}

TEST(DecodeRle, CutsAtTheOutputAndAtTheInput) {
    EXPECT_EQ(rle({0x10, 0x33, 0x05, 0x44}, 5), Bytes(5, 0x33));          // run dropped at the end
    EXPECT_EQ(rle({0x00, 0x05, 1, 2, 3, 4, 5}, 3), (Bytes{1, 2, 3}));       // literal cut at the end
    EXPECT_EQ(rle({0x00, 0x09, 1, 2, 3}, 100), (Bytes{1, 2, 3}));          // literal past the input
    EXPECT_EQ(rle({0x04}, 100), Bytes{});                                  // count with no value
    EXPECT_EQ(rle({0x02, 0x07, 0x00}, 100), (Bytes{7, 7}));                // literal with no length
}

TEST(DecodeRle, EveryPrefixAndRoundTrip) {
    std::mt19937 rng(5);
    for (int round = 0; round < 20; ++round) {
        Bytes data(rng() % 5000);
        for (size_t i = 0; i < data.size(); ++i) data[i] = (rng() % 3 == 0) ? static_cast<uint8_t>(rng()) : 9;
        const Bytes packed = encode_rle_simple(data);
        ASSERT_EQ(rle(packed, data.size()), data);
        for (size_t len = 0; len <= packed.size(); len += 1 + len / 16) {
            const Bytes got = rle(Bytes(packed.begin(), packed.begin() + len), data.size());
            EXPECT_TRUE(std::equal(got.begin(), got.end(), data.begin()));
        }
    }
}

}  // namespace
