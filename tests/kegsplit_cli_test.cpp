// kegsplit end to end: archives of every revision built here, run through
// the real programs, every output file, message and exit status checked.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "test_support.h"

namespace {

constexpr int FATAL = 255;  // exit(-1)

const ArchiveLayout *const ALL_LAYOUTS[] = {&LAYOUT_2_11, &LAYOUT_2_12, &LAYOUT_2_13};

std::string revision_of(const ArchiveLayout &layout) {
    return &layout == &LAYOUT_2_11 ? "2.11" : &layout == &LAYOUT_2_12 ? "2.12" : "2.13";
}

class Kegsplit : public testing::TestWithParam<const ArchiveLayout *> {
protected:
    const ArchiveLayout &layout() const { return *GetParam(); }
    bool has_bogus_test() const { return layout().bogus_image_test; }

    RunResult extract(const Bytes &archive) {
        write_file_bytes(dir.file("a.cgf"), archive);
        RunResult r = run_program(kegsplit_path(layout()), {"a.cgf"}, dir.path);
        std::remove(dir.file("a.cgf").c_str());
        return r;
    }
    RunResult extract(const std::vector<TestEntry> &entries) { return extract(build_archive(layout(), entries)); }
    Bytes output(const std::string &name) { return read_file_bytes(dir.file(name)); }
    std::vector<std::string> outputs() { return list_tree(dir.path); }

    TempDir dir;
};

TEST_P(Kegsplit, UsageOnWrongArgumentCount) {
    const std::string program = kegsplit_path(layout());
    const std::string usage =
        "kegsplit, v" + revision_of(layout()) + " by varnholt\n\nusage: " + program_argv0(program) + " <input.cgf>\n\n";
    for (const std::vector<std::string> &args : {std::vector<std::string>{}, {"a.cgf", "b.cgf"}}) {
        const RunResult r = run_program(program, args, dir.path);
        EXPECT_EQ(r.status, FATAL);
        EXPECT_EQ(r.err, usage);
        EXPECT_EQ(r.out, "");
    }
    EXPECT_TRUE(outputs().empty());
}

TEST_P(Kegsplit, ArchiveThatCannotBeOpened) {
    const RunResult r = run_program(kegsplit_path(layout()), {"missing.cgf"}, dir.path);
    EXPECT_EQ(r.status, FATAL);
    EXPECT_EQ(r.err, "Could not open missing.cgf (No such file or directory)\n");
}

TEST_P(Kegsplit, EmptyArchive) {
    const RunResult r = extract(std::vector<TestEntry>{});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(outputs().empty());
}

TEST_P(Kegsplit, PicturesBeforeTheFirstMaskAreWrittenAsDecoded) {
    std::vector<TestEntry> entries = {
        {"bg01.bmp", false, 0, 0, make_bmp24(9, 7, 1), PACK_LZSS},
        {"bg02", false, 0, 0, make_bmp24(4, 3, 2), PACK_RLE},
        {"a.b.c", false, 0, 0, Bytes{1, 2, 3, 4, 5}, PACK_LZSS_LITERALS},  // not even a picture
        {".hidden", false, 0, 0, make_bmp24(2, 2, 3), PACK_LZSS},
    };
    if (layout().stored_bit) entries.push_back({"st.bmp", false, 0, 0, make_bmp24(5, 5, 4), PACK_STORED});
    const RunResult r = extract(entries);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(output("bg01.bmp"), entries[0].data);
    EXPECT_EQ(output("bg02.bmp"), entries[1].data);
    EXPECT_EQ(output("a.b.bmp"), entries[2].data);
    EXPECT_EQ(output(".bmp"), entries[3].data);
    std::vector<std::string> expect = {".bmp", "a.b.bmp", "bg01.bmp", "bg02.bmp"};
    if (layout().stored_bit) {
        EXPECT_EQ(output("st.bmp"), entries[4].data);
        expect.push_back("st.bmp");
    }
    EXPECT_EQ(outputs(), expect);
}

TEST_P(Kegsplit, PicturesAfterAMaskAreComposedAndPlaced) {
    const Bytes mask = make_mask8(10, 8, 5);
    const Bytes ev1 = make_bmp24(10, 8, 6), ev2 = make_bmp24(7, 5, 7);
    const RunResult r = extract({
        {"m.bmp", true, -8, 16, mask, PACK_LZSS},
        {"ev01.bmp", false, 0, 0, ev1, PACK_LZSS},
        {"ev02.bmp", false, 0, 0, ev2, PACK_RLE},
    });
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(outputs(), (std::vector<std::string>{"ev01+x-8y16.bmp", "ev02+x-8y16.bmp"}));
    EXPECT_EQ(output("ev01+x-8y16.bmp"), expected_composed(ev1, mask));
    EXPECT_EQ(output("ev02+x-8y16.bmp"), expected_composed(ev2, mask));
}

TEST_P(Kegsplit, MasksInARowAndAMaskLast) {
    const Bytes first = make_mask8(6, 6, 1), second = make_mask8(6, 6, 99);
    const Bytes pic = make_bmp24(6, 6, 3);
    const RunResult r = extract({
        {"bg.bmp", false, 0, 0, pic, PACK_LZSS},
        {"m1", true, 1, 2, first, PACK_LZSS},
        {"m2", true, 0, 0, second, PACK_RLE},
        {"ev.bmp", false, 0, 0, pic, PACK_LZSS},
        {"m3", true, 5, 5, first, PACK_LZSS},
    });
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(outputs(), (std::vector<std::string>{"bg.bmp", "ev+x0y0.bmp"}));
    EXPECT_EQ(output("ev+x0y0.bmp"), expected_composed(pic, second));
}

TEST_P(Kegsplit, BogusImagesUnderAMask) {
    Bytes bogus = make_bmp24(2, 2, 1);
    put_le32(bogus, 2, 54);
    const Bytes mask = make_mask8(2, 2, 0);
    const RunResult r = extract({
        {"bg.bmp", false, 0, 0, bogus, PACK_LZSS},  // before any mask: no test
        {"m", true, 0, 0, mask, PACK_LZSS},
        {"ev01.bmp", false, 0, 0, bogus, PACK_LZSS},
    });
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(output("bg.bmp"), bogus);
    if (has_bogus_test()) {
        EXPECT_EQ(r.err, "ev01+x0y0.bmp: bogus image (skipped)\n");
        EXPECT_EQ(outputs(), std::vector<std::string>{"bg.bmp"});
    } else {
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(output("ev01+x0y0.bmp"), expected_composed(bogus, mask));
    }
}

TEST_P(Kegsplit, NameFieldsOfFullLength) {
    const std::string full(layout().name_size, 'n');  // no room for a NUL
    const std::string longest(layout().name_size - 1, 'k');
    const Bytes pic = make_bmp24(1, 1, 0);
    const RunResult r = extract({{full, false, 0, 0, pic, PACK_LZSS}, {longest + ".x", false, 0, 0, pic, PACK_LZSS}});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(output(full + ".bmp"), pic);
    // The name is cut by the field: "kkk...k.x" keeps its dot but loses the x.
    EXPECT_EQ(output(longest + ".bmp"), pic);
    EXPECT_EQ(outputs(), (std::vector<std::string>{longest + ".bmp", full + ".bmp"}));
    EXPECT_EQ(longest.size(), &layout() == &LAYOUT_2_12 ? 27u : 15u);
}

TEST_P(Kegsplit, BackslashIsADirectorySeparator) {
    ASSERT_EQ(mkdir(dir.file("cg").c_str(), 0700), 0);
    const Bytes pic = make_bmp24(3, 3, 8), mask = make_mask8(3, 3, 1);
    const RunResult r = extract({
        {"cg\\bg.bmp", false, 0, 0, pic, PACK_LZSS},
        {"m", true, 3, -4, mask, PACK_LZSS},
        {"cg\\ev.bmp", false, 0, 0, pic, PACK_LZSS},
    });
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(output("cg/bg.bmp"), pic);
    EXPECT_EQ(output("cg/ev+x3y-4.bmp"), expected_composed(pic, mask));
}

TEST_P(Kegsplit, OutputThatCannotBeCreatedEndsTheRun) {
    const Bytes pic = make_bmp24(2, 2, 1);
    const RunResult r = extract({
        {"first.bmp", false, 0, 0, pic, PACK_LZSS},
        {"nodir/x.bmp", false, 0, 0, pic, PACK_LZSS},
        {"last.bmp", false, 0, 0, pic, PACK_LZSS},
    });
    EXPECT_EQ(r.status, FATAL);
    EXPECT_EQ(r.err, "Could not open nodir/x.bmp (No such file or directory)\n");
    EXPECT_EQ(outputs(), std::vector<std::string>{"first.bmp"});

    const RunResult composed = extract({
        {"m", true, 1, 1, make_mask8(2, 2, 0), PACK_LZSS},
        {"nodir\\y.bmp", false, 0, 0, pic, PACK_LZSS},
    });
    EXPECT_EQ(composed.status, FATAL);
    // Windows keeps the stored separator; elsewhere it becomes '/'.
    const std::string output = testing_windows_build() ? "nodir\\y+x1y1.bmp" : "nodir/y+x1y1.bmp";
    EXPECT_EQ(composed.err, "Could not open " + output + " (No such file or directory)\n");
}

TEST_P(Kegsplit, MaskPositionBitIsNotPartOfTheSeek) {
    // Data lies in reverse table order, so the mask's data comes after the
    // large picture's: its position needs bits above 4096 beside bit 31.
    const Bytes big = make_bmp24(40, 40, 1), small = make_bmp24(2, 2, 0), mask = make_mask8(40, 40, 0);
    const Bytes archive = build_archive(layout(), {{"m", true, 2, 3, mask, PACK_LZSS},
                                                   {"e.bmp", false, 0, 0, small, PACK_LZSS},
                                                   {"big.bmp", false, 0, 0, big, PACK_LZSS_LITERALS}});
    ASSERT_GT(entry_position(archive, layout(), 0), 4096u);
    ASSERT_NE(get_le32(archive, 4 + layout().offset_field) & 0x80000000u, 0u);
    const RunResult r = extract(archive);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(output("e+x2y3.bmp"), expected_composed(small, mask));
    EXPECT_EQ(output("big+x2y3.bmp"), expected_composed(big, mask));
}

TEST_P(Kegsplit, PicturesOfSeveralMegabytesGrowAndShrinkTheBuffers) {
    // Decoded and composed sizes on both sides of 1 and 2 MiB, in an order
    // that makes every reused buffer grow and shrink; packed bytes of one
    // stored (2.13) or literal picture as large as the picture.
    const TestPackMode whole = layout().stored_bit ? PACK_STORED : PACK_LZSS_LITERALS;
    const Bytes a = make_bmp24(700, 500, 1), b = make_bmp24(1100, 700, 2), c = make_bmp24(30, 20, 3);
    const Bytes mask = make_mask8(1100, 700, 4);
    const RunResult r = extract({{"a.bmp", false, 0, 0, a, whole},
                                 {"b.bmp", false, 0, 0, b, PACK_LZSS},
                                 {"c.bmp", false, 0, 0, c, PACK_RLE},
                                 {"m", true, 5, 6, mask, PACK_LZSS},
                                 {"d.bmp", false, 0, 0, b, whole},
                                 {"e.bmp", false, 0, 0, c, PACK_LZSS},
                                 {"f.bmp", false, 0, 0, a, PACK_RLE}});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(output("a.bmp"), a);
    EXPECT_EQ(output("b.bmp"), b);
    EXPECT_EQ(output("c.bmp"), c);
    EXPECT_EQ(output("d+x5y6.bmp"), expected_composed(b, mask));
    EXPECT_EQ(output("e+x5y6.bmp"), expected_composed(c, mask));
    EXPECT_EQ(output("f+x5y6.bmp"), expected_composed(a, mask));
}

TEST_P(Kegsplit, PictureShapes) {
    const Bytes mask = make_mask8(8, 8, 3);
    Bytes zero_w = make_bmp24(0, 4, 0), zero_h = make_bmp24(5, 0, 0), flipped = make_bmp24(3, -4, 9);
    put_le32(zero_w, 2, 60);  // a file size of 54 would be a bogus image in 2.12 and 2.13
    put_le32(zero_h, 2, 60);
    Bytes offset_anywhere = zero_h;
    put_le32(offset_anywhere, 10, 0x7FFFFFFF);  // no rows: where they would start does not matter
    const RunResult r = extract({
        {"m", true, 0, 0, mask, PACK_LZSS},
        {"zw.bmp", false, 0, 0, zero_w, PACK_LZSS},
        {"zh.bmp", false, 0, 0, zero_h, PACK_LZSS},
        {"off.bmp", false, 0, 0, offset_anywhere, PACK_LZSS},
        {"flip.bmp", false, 0, 0, flipped, PACK_LZSS},
    });
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(output("zw+x0y0.bmp"), expected_composed(zero_w, mask));
    EXPECT_EQ(output("zw+x0y0.bmp").size(), 54u);
    EXPECT_EQ(output("zh+x0y0.bmp").size(), 54u);
    EXPECT_EQ(output("off+x0y0.bmp").size(), 54u);
    // Top-down rows come out as an upright bottom-up picture of height 4.
    const Bytes f = output("flip+x0y0.bmp");
    EXPECT_EQ(get_le32(f, 22), 4u);
    EXPECT_EQ(f, expected_composed(flipped, mask));
}

TEST_P(Kegsplit, ShortMasksReadAsOpaqueWhereTheyEnd) {
    const Bytes pic = make_bmp24(4, 3, 2);
    // A mask with a palette of 2 entries (bytes 54 to 61), whose pixel rows
    // stop after 5 bytes.
    Bytes small(54 + 8 + 5, 0);
    put_le32(small, 10, 54 + 8);
    put_le32(small, 18, 4);  // 4 wide: rows of 4 bytes
    small[56] = 100;         // entry 0 red: alpha 155
    small[60] = 10;          // entry 1 red: alpha 245
    const size_t rows = 54 + 8;
    small[rows + 0] = 0;
    small[rows + 1] = 1;
    small[rows + 2] = 200;  // entry 200 lies past the end: opaque
    small[rows + 3] = 1;
    small[rows + 4] = 0;    // row 1, column 0; the rest of row 1 is past the end
    const RunResult r = extract({
        {"m", true, 0, 0, small, PACK_LZSS},
        {"e.bmp", false, 0, 0, pic, PACK_LZSS},
        {"m2", true, 0, 0, Bytes(21, 0), PACK_LZSS},  // too short to hold its width
        {"f.bmp", false, 0, 0, pic, PACK_LZSS},
        {"m3", true, 0, 0, Bytes{}, PACK_LZSS},       // decodes to nothing: still a mask
        {"g.bmp", false, 0, 0, pic, PACK_LZSS},
    });
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    const Bytes e = output("e+x0y0.bmp");
    ASSERT_EQ(e.size(), 54u + 48);
    const uint8_t alphas[12] = {155, 245, 255, 245, 155, 255, 255, 255, 255, 255, 255, 255};
    for (int i = 0; i < 12; ++i) EXPECT_EQ(e[54 + 4 * i + 3], alphas[i]) << i;
    for (const char *name : {"f+x0y0.bmp", "g+x0y0.bmp"}) {
        const Bytes f = output(name);
        ASSERT_EQ(f.size(), 54u + 48);
        for (int i = 0; i < 12; ++i) EXPECT_EQ(f[54 + 4 * i + 3], 255) << name;
    }
}

TEST_P(Kegsplit, MaskPaletteRedByteOnly) {
    Bytes mask = make_mask8(2, 1, 0);
    const size_t row = get_le32(mask, 10);
    mask[row] = 7;
    mask[row + 1] = 8;
    mask[54 + 4 * 7] = 10;  // blue
    mask[55 + 4 * 7] = 20;  // green
    mask[56 + 4 * 7] = 200;  // red: alpha 55
    mask[56 + 4 * 8] = 0;   // alpha 255
    const Bytes pic = make_bmp24(2, 1, 4);
    const RunResult r = extract({{"m", true, 0, 0, mask, PACK_LZSS}, {"e.bmp", false, 0, 0, pic, PACK_LZSS}});
    EXPECT_EQ(r.status, 0);
    const Bytes e = output("e+x0y0.bmp");
    EXPECT_EQ(e[54 + 3], 55);
    EXPECT_EQ(e[58 + 3], 255);
    EXPECT_EQ(Bytes(e.begin() + 54, e.begin() + 57), Bytes(pic.begin() + 54, pic.begin() + 57));
}

// ---- bad input ----

TEST_P(Kegsplit, TruncatedEntryTableIsFatal) {
    const Bytes good = build_archive(layout(), {{"a.bmp", false, 0, 0, make_bmp24(1, 1, 0), PACK_LZSS}});
    for (const Bytes &archive : {Bytes{}, Bytes{1, 0, 0}, Bytes{1, 0, 0, 0}, Bytes{0xFF, 0xFF, 0xFF, 0xFF},
                                 Bytes(good.begin(), good.begin() + 4 + layout().entry_size - 1)}) {
        const RunResult r = extract(archive);
        EXPECT_EQ(r.status, FATAL);
        EXPECT_EQ(r.err, "a.cgf: truncated entry table\n");
        EXPECT_TRUE(outputs().empty());
    }
}

TEST_P(Kegsplit, TruncatedAndCorruptEntriesAreSkipped) {
    const Bytes pic = make_bmp24(2, 2, 1);
    std::vector<TestEntry> entries = {{"past.bmp", false, 0, 0, pic, PACK_LZSS},
                                      {"big.bmp", false, 0, 0, pic, PACK_LZSS},
                                      {"huge.bmp", false, 0, 0, pic, PACK_LZSS},
                                      {"ok.bmp", false, 0, 0, pic, PACK_RLE}};
    Bytes archive = build_archive(layout(), entries);
    const size_t offset_field = 4 + layout().offset_field;
    // Entry 0 starts past the end of the archive.
    put_le32(archive, offset_field, 0x7FFFFFF0);
    // Entry 1's packed size runs past the end.
    const uint32_t p1 = entry_position(archive, layout(), 1);
    put_le32(archive, p1 + (layout().trailer_framing ? 1 : 0), 0xFFFFFFF0);
    // Entry 2 claims a decoded length no stream of its size can have.
    const uint32_t p2 = entry_position(archive, layout(), 2);
    const uint32_t packed2 = get_le32(archive, p2 + (layout().trailer_framing ? 1 : 0));
    const size_t flags2 = layout().trailer_framing ? p2 + 5 + packed2 + 16 : p2 + 4;
    put_le32(archive, flags2, layout().trailer_framing ? 0x3FFFFFFF : 0x7FFFFFFF);
    const RunResult r = extract(archive);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err,
              "past.bmp: truncated entry (skipped)\nbig.bmp: truncated entry (skipped)\n"
              "huge.bmp: corrupt entry (skipped)\n");
    EXPECT_EQ(outputs(), std::vector<std::string>{"ok.bmp"});
    EXPECT_EQ(output("ok.bmp"), pic);
}

TEST_P(Kegsplit, SkippedMaskKeepsTheHeldMask) {
    const Bytes mask = make_mask8(3, 3, 7), pic = make_bmp24(3, 3, 2);
    Bytes archive = build_archive(layout(), {{"m1", true, 1, 2, mask, PACK_LZSS},
                                             {"m2", true, 9, 9, make_mask8(3, 3, 1), PACK_LZSS},
                                             {"e.bmp", false, 0, 0, pic, PACK_LZSS}});
    const uint32_t p = entry_position(archive, layout(), 1);
    put_le32(archive, p + 16 + (layout().trailer_framing ? 1 : 0), 0x10000000);  // packed size past the end
    const RunResult r = extract(archive);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "m2: truncated entry (skipped)\n");
    EXPECT_EQ(output("e+x1y2.bmp"), expected_composed(pic, mask));
}

TEST_P(Kegsplit, UnsafeNamesAreSkipped) {
    const Bytes pic = make_bmp24(1, 1, 0);
    const std::vector<std::string> unsafe = {"../x.bmp", "/tmp/x.bmp", "\\x.bmp", "C:x.bmp", "a/../b", "a\\..\\b", ".."};
    std::vector<TestEntry> entries;
    for (const std::string &name : unsafe) entries.push_back({name, false, 0, 0, pic, PACK_LZSS});
    entries.push_back({"m", true, 0, 0, make_mask8(1, 1, 0), PACK_LZSS});
    entries.push_back({"..\\up.bmp", false, 0, 0, pic, PACK_LZSS});
    entries.push_back({"a..b.bmp", false, 0, 0, pic, PACK_LZSS});  // dots inside a name are fine
    const RunResult r = extract(entries);
    EXPECT_EQ(r.status, 0);
    std::string expect;
    for (const std::string &name : unsafe) expect += name + ": unsafe entry name (skipped)\n";
    expect += "..\\up.bmp: unsafe entry name (skipped)\n";
    EXPECT_EQ(r.err, expect);
    EXPECT_EQ(outputs(), std::vector<std::string>{"a..b+x0y0.bmp"});
}

TEST_P(Kegsplit, BadImagesUnderAMaskAreSkipped) {
    const Bytes mask = make_mask8(4, 4, 0);
    Bytes rows_past = make_bmp24(4, 4, 0);
    rows_past.resize(rows_past.size() - 1);  // the last row's padding is missing
    put_le32(rows_past, 2, 999);
    Bytes negative_width = make_bmp24(4, 4, 0);
    put_le32(negative_width, 18, static_cast<uint32_t>(-4));
    Bytes huge = make_bmp24(4, 4, 0);
    put_le32(huge, 22, 0x80000000u);  // height -2^31
    Bytes far_offset = make_bmp24(4, 4, 0);
    put_le32(far_offset, 10, 0xFFFFFFFFu);
    const RunResult r = extract({
        {"m", true, 0, 0, mask, PACK_LZSS},
        {"short.bmp", false, 0, 0, Bytes(53, 1), PACK_LZSS},
        {"rows.bmp", false, 0, 0, rows_past, PACK_LZSS},
        {"neg.bmp", false, 0, 0, negative_width, PACK_LZSS},
        {"huge.bmp", false, 0, 0, huge, PACK_LZSS},
        {"far.bmp", false, 0, 0, far_offset, PACK_LZSS},
    });
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err,
              "short+x0y0.bmp: bad image (skipped)\nrows+x0y0.bmp: bad image (skipped)\n"
              "neg+x0y0.bmp: bad image (skipped)\nhuge+x0y0.bmp: bad image (skipped)\n"
              "far+x0y0.bmp: bad image (skipped)\n");
    EXPECT_TRUE(outputs().empty());
}

TEST_P(Kegsplit, StreamsShorterThanTheirLengthAreZeroFilled) {
    // A literal-only stream cut short: the rest of the decoded length is zero.
    std::vector<TestEntry> entries = {{"cut.bmp", false, 0, 0, Bytes(40, 0x77), PACK_LZSS_LITERALS}};
    Bytes archive = build_archive(layout(), entries);
    const uint32_t p = entry_position(archive, layout(), 0);
    const size_t flags_at = layout().trailer_framing ? p + 5 + get_le32(archive, p + 1) + 16 : p + 4;
    put_le32(archive, flags_at, 100);
    const RunResult r = extract(archive);
    EXPECT_EQ(r.status, 0);
    Bytes expect(100, 0);
    std::fill(expect.begin(), expect.begin() + 40, 0x77);
    EXPECT_EQ(output("cut.bmp"), expect);
}

TEST_P(Kegsplit, EveryPrefixOfAnArchiveEndsCleanly) {
    const Bytes archive = build_archive(layout(), {{"bg.bmp", false, 0, 0, make_bmp24(3, 2, 1), PACK_LZSS},
                                                   {"m", true, 1, 1, make_mask8(3, 2, 0), PACK_RLE},
                                                   {"ev.bmp", false, 0, 0, make_bmp24(3, 2, 2), PACK_LZSS}});
    for (size_t len = 0; len < archive.size(); len += 1 + len / 24) {
        const RunResult r = extract(Bytes(archive.begin(), archive.begin() + len));
        EXPECT_TRUE(r.status == 0 || r.status == FATAL) << len;
        if (r.status == FATAL) {
            EXPECT_EQ(r.err, "a.cgf: truncated entry table\n");
        }
        for (const std::string &name : outputs()) std::remove(dir.file(name).c_str());
    }
}

INSTANTIATE_TEST_SUITE_P(AllRevisions, Kegsplit, testing::ValuesIn(ALL_LAYOUTS),
                         [](const testing::TestParamInfo<const ArchiveLayout *> &info) {
                             return std::string(info.param == &LAYOUT_2_11   ? "v211"
                                                : info.param == &LAYOUT_2_12 ? "v212"
                                                                             : "v213");
                         });

// ---- behaviour that differs from revision to revision ----

TEST(Kegsplit213, StoredBitWinsOverRunLength) {
    TempDir dir;
    const Bytes pic = make_bmp24(3, 3, 5);
    TestEntry entry{"s.bmp", false, 0, 0, pic, PACK_STORED};
    entry.both_mode_bits = true;
    write_file_bytes(dir.file("a.cgf"), build_archive(LAYOUT_2_13, {entry}));
    const RunResult r = run_program(kegsplit_path(LAYOUT_2_13), {"a.cgf"}, dir.path);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(read_file_bytes(dir.file("s.bmp")), pic);
}

TEST(Kegsplit213, StoredModeWithFewerPackedBytesThanItsLength) {
    TempDir dir;
    Bytes archive = build_archive(LAYOUT_2_13, {{"s.bmp", false, 0, 0, Bytes{1, 2, 3}, PACK_STORED}});
    const uint32_t p = entry_position(archive, LAYOUT_2_13, 0);
    put_le32(archive, p + 5 + 3 + 16, 0x40000000u | 8);
    write_file_bytes(dir.file("a.cgf"), archive);
    const RunResult r = run_program(kegsplit_path(LAYOUT_2_13), {"a.cgf"}, dir.path);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(read_file_bytes(dir.file("s.bmp")), (Bytes{1, 2, 3, 0, 0, 0, 0, 0}));
}

TEST(Kegsplit211, BitThirtyIsPartOfTheLength) {
    // 2.11 reads the 2.13 stored bit as length: 2^30 + 3 bytes from a
    // 3-byte stream is beyond any real stream, so the entry is corrupt.
    TempDir dir;
    Bytes archive = build_archive(LAYOUT_2_11, {{"s.bmp", false, 0, 0, Bytes{1, 2, 3}, PACK_LZSS_LITERALS}});
    const uint32_t p = entry_position(archive, LAYOUT_2_11, 0);
    put_le32(archive, p + 4, 0x40000000u | 3);
    write_file_bytes(dir.file("a.cgf"), archive);
    const RunResult r = run_program(kegsplit_path(LAYOUT_2_11), {"a.cgf"}, dir.path);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "s.bmp: corrupt entry (skipped)\n");
}

TEST(KegsplitRevisions, EachProgramOnTheOtherRevisionsArchives) {
    const std::vector<TestEntry> entries = {{"bg.bmp", false, 0, 0, make_bmp24(4, 4, 1), PACK_LZSS},
                                            {"m", true, 2, 2, make_mask8(4, 4, 1), PACK_LZSS},
                                            {"ev.bmp", false, 0, 0, make_bmp24(4, 4, 2), PACK_RLE}};
    for (const ArchiveLayout *made : ALL_LAYOUTS) {
        for (const ArchiveLayout *reader : ALL_LAYOUTS) {
            TempDir dir;
            write_file_bytes(dir.file("a.cgf"), build_archive(*made, entries));
            const RunResult r = run_program(kegsplit_path(*reader), {"a.cgf"}, dir.path);
            EXPECT_TRUE(r.status == 0 || r.status == FATAL);
            if (made == reader) {
                EXPECT_EQ(r.status, 0);
                EXPECT_EQ(list_tree(dir.path), (std::vector<std::string>{"a.cgf", "bg.bmp", "ev+x2y2.bmp"}));
            }
        }
    }
}

}  // namespace

namespace {

TEST(KegsplitMemory, AllocationFailureEndsTheRun) {
#ifdef KEGKIT_SANITIZED
    GTEST_SKIP() << "the sanitizers need more address space than the limit allows";
#endif
    if (testing_windows_build()) GTEST_SKIP() << "wine does not start under an address-space limit";
    // 1 MiB of run-length packets may claim up to 256 MiB of decoded bytes;
    // with 64 MiB of address space the buffer cannot be had.
    TempDir dir;
    const Bytes pic = make_bmp24(2, 2, 0);
    Bytes packets;
    for (int i = 0; i < (1 << 19); ++i) packets.insert(packets.end(), {0xFF, 0x42});
    std::vector<TestEntry> entries = {{"first.bmp", false, 0, 0, pic, PACK_LZSS},
                                      {"big.bmp", false, 0, 0, Bytes{}, PACK_STORED},
                                      {"last.bmp", false, 0, 0, pic, PACK_LZSS}};
    Bytes archive = build_archive(LAYOUT_2_12, entries);
    // Give entry 1 the packets and a decoded length of 200 MiB, at the end of the file.
    const uint32_t position = static_cast<uint32_t>(archive.size());
    put_le32(archive, 4 + 32 + 28, position);
    Bytes frame(8, 0);
    put_le32(frame, 0, static_cast<uint32_t>(packets.size()));
    put_le32(frame, 4, 0x80000000u | (200u << 20));
    archive.insert(archive.end(), frame.begin(), frame.end());
    archive.insert(archive.end(), packets.begin(), packets.end());
    write_file_bytes(dir.file("a.cgf"), archive);

    const RunResult r = run_program(kegsplit_path(LAYOUT_2_12), {"a.cgf"}, dir.path, 64u << 20);
    EXPECT_EQ(r.status, FATAL);
    EXPECT_EQ(r.err, "out of memory\n");
    EXPECT_EQ(list_tree(dir.path), (std::vector<std::string>{"a.cgf", "first.bmp"}));

    const RunResult unlimited = run_program(kegsplit_path(LAYOUT_2_12), {"a.cgf"}, dir.path);
    EXPECT_EQ(unlimited.status, 0);
    EXPECT_EQ(read_file_bytes(dir.file("big.bmp")).size(), 200u << 20);
}

}  // namespace
