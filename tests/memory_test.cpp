// Peak memory: this test program counts every byte the code under test
// allocates, and checks that extraction holds at most one entry's buffers
// plus the mask (one buffer of each kind, as large as the largest entry
// needs), that a tiny hostile archive cannot make it allocate much,
// and that the merger holds at most one base and one delta picture.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <new>
#include <random>

#include "extract.h"
#include "fatal.h"
#include "merge.h"
#include "test_support.h"

namespace {

size_t g_live = 0;
size_t g_peak = 0;

void *counted_alloc(size_t size) {
    auto *block = static_cast<size_t *>(std::malloc(size + 16));
    if (!block) throw std::bad_alloc();
    block[0] = size;
    g_live += size;
    if (g_live > g_peak) g_peak = g_live;
    return block + 2;
}

void counted_free(void *p) {
    if (!p) return;
    auto *block = static_cast<size_t *>(p) - 2;
    g_live -= block[0];
    std::free(block);
}

}  // namespace

void *operator new(size_t size) { return counted_alloc(size); }
void *operator new[](size_t size) { return counted_alloc(size); }
void operator delete(void *p) noexcept { counted_free(p); }
void operator delete[](void *p) noexcept { counted_free(p); }
void operator delete(void *p, size_t) noexcept { counted_free(p); }
void operator delete[](void *p, size_t) noexcept { counted_free(p); }

namespace {

struct FatalExit {};
[[noreturn]] void throw_fatal(int) { throw FatalExit{}; }

// Peak bytes above what was live before `run`.
template <typename F>
size_t peak_of(F run) {
    const size_t base = g_live;
    g_peak = g_live;
    try {
        run();
    } catch (const FatalExit &) {
    }
    return g_peak - base;
}

class PeakMemory : public testing::Test {
protected:
    void SetUp() override { set_fatal_handler(throw_fatal); }
    void TearDown() override { set_fatal_handler(nullptr); }
    TempDir dir;
};

TEST_F(PeakMemory, ExtractionHoldsOneEntryAndTheMask) {
    const Bytes bg = make_bmp24(640, 480, 1), mask = make_mask8(320, 240, 2), ev = make_bmp24(320, 240, 3);
    const std::vector<TestEntry> entries = {{"bg01.bmp", false, 0, 0, bg, PACK_LZSS},
                                            {"bg02.bmp", false, 0, 0, bg, PACK_RLE},
                                            {"m", true, 10, 20, mask, PACK_LZSS},
                                            {"ev01.bmp", false, 0, 0, ev, PACK_LZSS},
                                            {"ev02.bmp", false, 0, 0, ev, PACK_RLE},
                                            {"ev03.bmp", false, 0, 0, ev, PACK_STORED}};
    const Bytes archive = build_archive(LAYOUT_2_13, entries);
    write_file_bytes(dir.file("a.cgf"), archive);
    // One buffer of each kind, reused from entry to entry and as large as
    // the largest entry needs: packed bytes (at most the picture's own size
    // for these streams), decoded bytes, a composed picture; and the held
    // mask, packed and decoded.
    const size_t bound = 2 * bg.size() + 320 * 240 * 4 + 2 * mask.size() + (256u << 10);
    ScopedChdir in(dir.path);
    const size_t peak = peak_of([&] { EXPECT_EQ(extract_archive("a.cgf", LAYOUT_2_13), 0); });
    std::printf("extraction peak %zu bytes, bound %zu\n", peak, bound);
    EXPECT_LE(peak, bound);
    EXPECT_GE(peak, bg.size());  // the count sees the buffers at all
    EXPECT_TRUE(file_exists("ev03+x10y20.bmp"));
}

TEST_F(PeakMemory, HundredByteArchivesStaySmall) {
    ScopedChdir in(dir.path);
    std::mt19937 rng(1);
    size_t worst = 0;
    // The skip messages of 3000 random archives are of no interest here.
    const int saved_stderr = dup(2);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 2);
    // Two entries, a mask and a picture, each claiming the largest decoded
    // length that its packed size allows, padded with random bytes to 100.
    for (int round = 0; round < 3000; ++round) {
        const ArchiveLayout &layout = round % 3 == 0 ? LAYOUT_2_11 : round % 3 == 1 ? LAYOUT_2_12 : LAYOUT_2_13;
        const uint32_t header = layout.trailer_framing ? 5 : 8, trailer = layout.trailer_framing ? 20 : 0;
        // Where a mask and a picture do not both fit in 100 bytes, a picture alone.
        uint32_t entries = 2;
        if (4 + 2 * layout.entry_size + 16 + 2 * (header + trailer) > 100) entries = 1;
        const uint32_t table_end = 4 + entries * layout.entry_size;
        const uint32_t room = 100 - table_end - (entries == 2 ? 16 : 0) - entries * (header + trailer);
        const uint32_t mask_packed = entries == 2 ? rng() % (room + 1) : 0, picture_packed = room - mask_packed;
        Bytes a(100);
        for (auto &b : a) b = static_cast<uint8_t>(rng());
        put_le32(a, 0, entries);
        const uint32_t modes[] = {0, 0x80000000u, layout.stored_bit};
        uint32_t at = table_end;
        for (uint32_t e = 0; e < entries; ++e) {
            const bool mask = entries == 2 && e == 0;
            const uint32_t packed = mask ? mask_packed : picture_packed;
            put_le32(a, 4 + e * layout.entry_size + layout.offset_field, (mask ? 0x80000000u : 0) | at);
            a[4 + e * layout.entry_size] = static_cast<uint8_t>('a' + e);
            a[5 + e * layout.entry_size] = 0;
            if (mask) at += 16;
            const uint32_t flags = modes[rng() % 3] | std::min<uint32_t>(256 * packed + 65536, layout.length_mask);
            put_le32(a, at + (layout.trailer_framing ? 1 : 0), packed);
            put_le32(a, layout.trailer_framing ? at + header + packed + 16 : at + 4, flags);
            at += header + packed + trailer;
        }
        write_file_bytes("a.cgf", a);
        worst = std::max(worst, peak_of([&] { extract_archive("a.cgf", layout); }));
        for (const std::string &name : list_tree(".")) std::remove(name.c_str());
    }
    dup2(saved_stderr, 2);
    close(null);
    close(saved_stderr);
    std::printf("worst peak of a 100-byte archive %zu bytes\n", worst);
    EXPECT_LE(worst, 2u << 20);
}

TEST_F(PeakMemory, MergeHoldsOneBaseAndOneDelta) {
    const Bytes base = make_bmp24(400, 300, 1), delta = make_bmp32(100, 100, 2);
    std::vector<TestEvent> events;
    for (int i = 0; i < 6; ++i) {
        const std::string n = std::to_string(i);
        write_file_bytes(dir.file("B" + n + ".bmp"), base);
        write_file_bytes(dir.file("D" + n + "+x10y10.bmp"), delta);
        events.push_back({"E" + n, "B" + n, "D" + n});
    }
    write_file_bytes(dir.file("evinfo.bin"), make_event_table(events));
    ScopedChdir in(dir.path);
    const size_t peak = peak_of([&] { EXPECT_EQ(merge_events("evinfo.bin", true), 0); });
    std::printf("merge peak %zu bytes for a base of %zu and a delta of %zu\n", peak, base.size(), delta.size());
    EXPECT_LE(peak, base.size() + delta.size() + (64u << 10));
    EXPECT_GE(peak, base.size());
    EXPECT_TRUE(file_exists("E5.bmp"));
    EXPECT_FALSE(file_exists("D5+x10y10.bmp"));
}

}  // namespace
