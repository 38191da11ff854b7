// palimp end to end: event tables and pictures made here, the real program
// run in a temporary folder, outputs compared byte for byte with an
// independent computation of the blend.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cerrno>
#include <unistd.h>

#include "test_support.h"

namespace {

constexpr int FATAL = 255;

class Palimp : public testing::Test {
protected:
    void put(const std::string &name, const Bytes &data) { write_file_bytes(dir.file(name), data); }
    Bytes get(const std::string &name) { return read_file_bytes(dir.file(name)); }
    RunResult merge(const std::vector<TestEvent> &events, const std::vector<std::string> &extra = {}) {
        put("evinfo.bin", make_event_table(events));
        std::vector<std::string> args = {"evinfo.bin"};
        args.insert(args.end(), extra.begin(), extra.end());
        return run_program(palimp_path(), args, dir.path);
    }
    std::vector<std::string> files() { return list_tree(dir.path); }
    TempDir dir;
};

TEST_F(Palimp, UsageWithNoArgument) {
    const RunResult r = run_program(palimp_path(), {}, dir.path);
    EXPECT_EQ(r.status, FATAL);
    EXPECT_EQ(r.err, "palimp, v1.0 by varnholt\n\nusage: " + program_argv0(palimp_path()) +
                         " <evinfo.bin> [-cleanup]\n\n\t-cleanup = delete used delta bitmaps\n\n");
    EXPECT_EQ(r.out, "");
}

TEST_F(Palimp, CleanupAloneIsATablePath) {
    const RunResult r = run_program(palimp_path(), {"-cleanup"}, dir.path);
    EXPECT_EQ(r.status, FATAL);
    EXPECT_EQ(r.err, "Could not open -cleanup (No such file or directory)\n");
}

TEST_F(Palimp, EmptyTable) {
    put("D.bmp", make_bmp32(2, 2, 0));
    const RunResult r = merge({}, {"-cleanup"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(files(), (std::vector<std::string>{"D.bmp", "evinfo.bin"}));
}

TEST_F(Palimp, OffsetsAndOutputNames) {
    const Bytes base = make_bmp24(40, 30, 1), delta = make_bmp32(12, 8, 2);
    put("B1.bmp", base);
    put("D1+x10y20.bmp", delta);
    put("B2+x100y50.bmp", base);
    put("D2+x120y62.bmp", delta);
    put("B3+x0y0.bmp", base);
    put("D3+x1y2.bmp", delta);
    put("B4+x-8y-4.bmp", base);
    put("D4+x0y0.bmp", delta);
    const RunResult r = merge({{"E1", "B1", "D1"}, {"E2", "B2", "D2"}, {"E3", "B3", "D3"}, {"E4", "B4", "D4"}});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(get("E1.bmp"), reference_merge(base, delta, 10, 20));
    EXPECT_EQ(get("E2+x100y50.bmp"), reference_merge(base, delta, 20, 12));
    EXPECT_EQ(get("E3.bmp"), reference_merge(base, delta, 1, 2));
    EXPECT_EQ(get("E4+x-8y-4.bmp"), reference_merge(base, delta, 8, 4));
}

TEST_F(Palimp, ThirtyTwoBitBasesKeepTheirDepth) {
    const Bytes base = make_bmp32(20, 20, 5), delta = make_bmp32(20, 20, 9);
    put("B.bmp", base);
    put("D.bmp", delta);
    const RunResult r = merge({{"E", "B", "D"}});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(get("E.bmp"), reference_merge(base, delta, 0, 0));
}

TEST_F(Palimp, ExactBaseIsPreferred) {
    const Bytes plain = make_bmp24(8, 8, 1), placed = make_bmp24(8, 8, 2), delta = make_bmp32(4, 4, 3);
    put("B.bmp", plain);
    put("B+x5y5.bmp", placed);
    put("D+x2y2.bmp", delta);
    const RunResult r = merge({{"E", "B", "D"}});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(get("E.bmp"), reference_merge(plain, delta, 2, 2));
}

TEST_F(Palimp, MissingPicturesAreSkippedWithOneMessage) {
    put("B.bmp", make_bmp24(4, 4, 0));
    put("D.bmp", make_bmp32(2, 2, 0));
    const RunResult r = merge({{"E1", "X", "D"}, {"E2", "B", "Y"}, {"E3", "", "D"}, {"E4", "B", "D"}}, {"-cleanup"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err,
              "E1: could not find X+D (skipped)\nE2: could not find B+Y (skipped)\nE3: could not find +D (skipped)\n");
    EXPECT_EQ(files(), (std::vector<std::string>{"B.bmp", "E4.bmp", "evinfo.bin"}));
}

TEST_F(Palimp, DeltasThatDoNotFitAreSkipped) {
    put("B.bmp", make_bmp24(4, 3, 0));
    put("W.bmp", make_bmp32(5, 3, 0));
    put("S+x1y0.bmp", make_bmp32(4, 3, 0));
    put("N+x-1y0.bmp", make_bmp32(2, 2, 0));
    put("T+x0y1.bmp", make_bmp32(4, 3, 0));
    put("F.bmp", make_bmp32(4, 3, 0));
    const RunResult r =
        merge({{"E1", "B", "W"}, {"E2", "B", "S"}, {"E3", "B", "N"}, {"E4", "B", "T"}, {"E5", "B", "F"}}, {"-cleanup"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err,
              "E1: base dimensions exceeded B+W (skipped)\nE2: base dimensions exceeded B+S (skipped)\n"
              "E3: base dimensions exceeded B+N (skipped)\nE4: base dimensions exceeded B+T (skipped)\n");
    EXPECT_EQ(files(), (std::vector<std::string>{"B.bmp", "E5.bmp", "N+x-1y0.bmp", "S+x1y0.bmp", "T+x0y1.bmp",
                                                 "W.bmp", "evinfo.bin"}));
}

TEST_F(Palimp, OtherDepthsAreSkipped) {
    Bytes grey = make_mask8(4, 4, 0);
    put("G.bmp", grey);
    put("B.bmp", make_bmp24(4, 4, 0));
    put("D.bmp", make_bmp32(2, 2, 0));
    Bytes mono = make_bmp24(2, 2, 0);
    mono[28] = 1;
    put("M.bmp", mono);
    const RunResult r = merge({{"E1", "G", "D"}, {"E2", "B", "G"}, {"E3", "B", "M"}, {"E4", "G", "B"}}, {"-cleanup"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err,
              "E1: unsupported color depth G+D (skipped)\nE2: unsupported color depth B+G (skipped)\n"
              "E3: unsupported color depth B+M (skipped)\nE4: unsupported color depth G+B (skipped)\n");
    EXPECT_EQ(files(), (std::vector<std::string>{"B.bmp", "D.bmp", "G.bmp", "M.bmp", "evinfo.bin"}));
}

TEST_F(Palimp, CleanupDeletesUsedDeltasOnce) {
    put("B.bmp", make_bmp24(4, 4, 0));
    put("D+x1y1.bmp", make_bmp32(2, 2, 0));
    put("K.bmp", make_bmp32(9, 9, 0));  // does not fit: stays
    const RunResult r = merge({{"E1", "B", "D"}, {"E2", "B", "D"}, {"E3", "B", "K"}}, {"-cleanup"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "E3: base dimensions exceeded B+K (skipped)\n");
    EXPECT_EQ(files(), (std::vector<std::string>{"B.bmp", "E1.bmp", "E2.bmp", "K.bmp", "evinfo.bin"}));
}

TEST_F(Palimp, OnlyTheExactOptionCleansUp) {
    put("B.bmp", make_bmp24(4, 4, 0));
    put("D.bmp", make_bmp32(2, 2, 0));
    for (const char *option : {"-Cleanup", "--cleanup", "cleanup", "-cleanup "}) {
        const RunResult r = merge({{"E", "B", "D"}}, {option, "-cleanup"});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
        EXPECT_TRUE(file_exists(dir.file("D.bmp"))) << option;
    }
}

TEST_F(Palimp, OutputReplacingItsBaseFeedsLaterRecords) {
    const Bytes base = make_bmp24(6, 6, 1), d1 = make_bmp32(6, 6, 2), d2 = make_bmp32(3, 3, 3);
    put("B.bmp", base);
    put("D1.bmp", d1);
    put("D2+x3y3.bmp", d2);
    const RunResult r = merge({{"B", "B", "D1"}, {"E", "B", "D2"}});
    EXPECT_EQ(r.status, 0);
    const Bytes first = reference_merge(base, d1, 0, 0);
    EXPECT_EQ(get("B.bmp"), first);
    EXPECT_EQ(get("E.bmp"), reference_merge(first, d2, 3, 3));
}

TEST_F(Palimp, NewOutputIsFoundByLaterRecords) {
    const Bytes base = make_bmp24(6, 6, 1), d1 = make_bmp32(6, 6, 2), d2 = make_bmp32(2, 2, 3);
    put("B.bmp", base);
    put("D1.bmp", d1);
    put("D2+x1y1.bmp", d2);
    // N.bmp does not exist when the run starts; the first record writes it.
    const RunResult r = merge({{"N", "B", "D1"}, {"E", "N", "D2"}, {"F", "N", "N"}});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    const Bytes first = reference_merge(base, d1, 0, 0);
    EXPECT_EQ(get("N.bmp"), first);
    EXPECT_EQ(get("E.bmp"), reference_merge(first, d2, 1, 1));
    EXPECT_EQ(get("F.bmp"), first);  // a 24-bit delta is opaque: N over itself
}

TEST_F(Palimp, CleanupNeverDeletesAnOutput) {
    put("B.bmp", make_bmp24(4, 4, 0));
    put("D.bmp", make_bmp32(2, 2, 0));
    put("F.bmp", make_bmp32(2, 2, 1));
    // Record 1 uses D, record 2 writes D.bmp; record 3 uses F, which record 4 wrote... after.
    const RunResult r = merge({{"E", "B", "D"}, {"D", "B", "F"}, {"F", "B", "D"}}, {"-cleanup"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(files(), (std::vector<std::string>{"B.bmp", "D.bmp", "E.bmp", "F.bmp", "evinfo.bin"}));
}

TEST_F(Palimp, FailureMidwayKeepsEveryDelta) {
    put("B.bmp", make_bmp24(4, 4, 0));
    put("D.bmp", make_bmp32(2, 2, 0));
    ASSERT_EQ(mkdir(dir.file("E2.bmp").c_str(), 0700), 0);  // the second output cannot be created
    const RunResult r = merge({{"E1", "B", "D"}, {"E2", "B", "D"}, {"E3", "B", "D"}}, {"-cleanup"});
    EXPECT_EQ(r.status, FATAL);
    EXPECT_EQ(r.err, "Could not open E2.bmp (" + open_error_text(EISDIR) + ")\n");
    EXPECT_EQ(files(), (std::vector<std::string>{"B.bmp", "D.bmp", "E1.bmp", "evinfo.bin"}));
}

TEST_F(Palimp, DanglingLinkIsFoundAndFailsToOpen) {
    if (testing_windows_build()) GTEST_SKIP() << "Windows does not list a link whose target is gone";
    put("B.bmp", make_bmp24(4, 4, 0));
    put("D.bmp", make_bmp32(2, 2, 0));
    ASSERT_EQ(symlink("gone.bmp", dir.file("X.bmp").c_str()), 0);
    const RunResult r = merge({{"E1", "B", "D"}, {"E2", "X", "D"}, {"E3", "B", "D"}}, {"-cleanup"});
    EXPECT_EQ(r.status, FATAL);
    EXPECT_EQ(r.err, "Could not open X.bmp (No such file or directory)\n");
    EXPECT_EQ(files(), (std::vector<std::string>{"B.bmp", "D.bmp", "E1.bmp", "X.bmp", "evinfo.bin"}));
}

TEST_F(Palimp, OutputThatCannotBeCreated) {
    put("B.bmp", make_bmp24(4, 4, 0));
    put("D.bmp", make_bmp32(2, 2, 0));
    ASSERT_EQ(mkdir(dir.file("E.bmp").c_str(), 0700), 0);
    const RunResult r = merge({{"E", "B", "D"}}, {"-cleanup"});
    EXPECT_EQ(r.status, FATAL);
    EXPECT_EQ(r.err, "Could not open E.bmp (" + open_error_text(EISDIR) + ")\n");
    EXPECT_TRUE(file_exists(dir.file("D.bmp")));
}

// ---- bad input ----

TEST_F(Palimp, TruncatedTablesAreFatal) {
    put("B.bmp", make_bmp24(4, 4, 0));
    put("D.bmp", make_bmp32(2, 2, 0));
    const Bytes good = make_event_table({{"E", "B", "D"}, {"F", "B", "D"}});
    Bytes huge(4 + 84, 0);
    put_le32(huge, 0, 51130564);
    for (const Bytes &table : {Bytes{}, Bytes{1, 0, 0}, Bytes(good.begin(), good.end() - 1),
                               Bytes(good.begin(), good.begin() + 4 + 84 + 40), huge, Bytes{0xFF, 0xFF, 0xFF, 0xFF}}) {
        put("evinfo.bin", table);
        const RunResult r = run_program(palimp_path(), {"evinfo.bin", "-cleanup"}, dir.path);
        EXPECT_EQ(r.status, FATAL);
        EXPECT_EQ(r.err, "evinfo.bin: truncated event table\n");
        EXPECT_EQ(files(), (std::vector<std::string>{"B.bmp", "D.bmp", "evinfo.bin"}));
    }
}

TEST_F(Palimp, NamesWithoutNulStopAtTheirField) {
    const std::string sixteen = "abcdefghijklmnop";
    put(sixteen + ".bmp", make_bmp24(4, 4, 0));
    put("D.bmp", make_bmp32(2, 2, 0));
    const RunResult r = merge({{sixteen, sixteen, "D"}});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(file_exists(dir.file(sixteen + ".bmp")));
}

TEST_F(Palimp, UnsafeEventNamesAreSkipped) {
    ASSERT_EQ(mkdir(dir.file("sub").c_str(), 0700), 0);
    put("B.bmp", make_bmp24(4, 4, 0));
    put("D.bmp", make_bmp32(2, 2, 0));
    const RunResult r = merge({{"../up", "B", "D"}, {"sub/x", "B", "D"}, {"a\\b", "B", "D"}, {".", "B", "D"},
                               {"..", "B", "D"}, {"..ok", "B", "D"}},
                              {"-cleanup"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err,
              "../up: unsafe event name (skipped)\nsub/x: unsafe event name (skipped)\n"
              "a\\b: unsafe event name (skipped)\n.: unsafe event name (skipped)\n..: unsafe event name (skipped)\n");
    EXPECT_EQ(files(), (std::vector<std::string>{"..ok.bmp", "B.bmp", "evinfo.bin"}));
}

TEST_F(Palimp, ShortAndOddPictureFiles) {
    Bytes base = make_bmp24(4, 4, 0);
    base.resize(54 + 20);  // pixels missing: read as zero
    put("B.bmp", base);
    Bytes delta = make_bmp32(2, 2, 0);
    put_le32(delta, 10, 1u << 30);  // pixels past the end: all zero, transparent
    put("D.bmp", delta);
    const RunResult r = merge({{"E", "B", "D"}});
    EXPECT_EQ(r.status, 0);
    Bytes expect = base;
    expect.resize(54 + 48, 0);
    EXPECT_EQ(get("E.bmp"), expect);
}

TEST_F(Palimp, HugePictureIsFatal) {
    Bytes base = make_bmp24(4, 4, 0);
    put_le32(base, 22, 0x80000000u);  // height -2^31
    put("B.bmp", base);
    put("D.bmp", make_bmp32(2, 2, 0));
    const RunResult r = merge({{"E", "B", "D"}});
    EXPECT_EQ(r.status, FATAL);
    EXPECT_EQ(r.err, "B.bmp: image too large\n");
}

// An archive made here, extracted by kegsplit-2.13 and merged by palimp.
TEST_F(Palimp, PipelineFromArchiveToEvents) {
    const Bytes bg = make_bmp24(64, 48, 1), face1 = make_bmp24(16, 12, 2), face2 = make_bmp24(16, 12, 3);
    const Bytes mask = make_mask8(16, 12, 4);
    write_file_bytes(dir.file("ev.cgf"), build_archive(LAYOUT_2_13, {
                                                           {"bg01.bmp", false, 0, 0, bg, PACK_LZSS},
                                                           {"fm", true, 20, 10, mask, PACK_RLE},
                                                           {"fc01.bmp", false, 0, 0, face1, PACK_LZSS},
                                                           {"fc02.bmp", false, 0, 0, face2, PACK_STORED},
                                                       }));
    RunResult r = run_program(kegsplit_path(LAYOUT_2_13), {"ev.cgf"}, dir.path);
    ASSERT_EQ(r.status, 0) << r.err;
    r = merge({{"ev01a", "bg01", "fc01"}, {"ev01b", "bg01", "fc02"}}, {"-cleanup"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    // Independently: the extracted deltas are the faces with the mask's alpha.
    auto delta_of = [&](const Bytes &face) {
        Bytes d(54, 0);
        d[0] = 'B';
        d[1] = 'M';
        put_le32(d, 18, 16);
        put_le32(d, 22, 12);
        d[28] = 32;
        for (int row = 0; row < 12; ++row)
            for (int c = 0; c < 16; ++c) {
                const uint8_t *p = face.data() + 54 + row * 48 + 3 * c;
                const uint8_t k = mask[54 + 1024 + row * 16 + c];
                d.insert(d.end(), {p[0], p[1], p[2], static_cast<uint8_t>(255 - k)});
            }
        return d;
    };
    EXPECT_EQ(get("ev01a.bmp"), reference_merge(bg, delta_of(face1), 20, 10));
    EXPECT_EQ(get("ev01b.bmp"), reference_merge(bg, delta_of(face2), 20, 10));
    EXPECT_EQ(files(), (std::vector<std::string>{"bg01.bmp", "ev.cgf", "ev01a.bmp", "ev01b.bmp", "evinfo.bin"}));
}

}  // namespace

namespace {

TEST(PalimpMemory, AllocationFailureEndsTheRunAndDeletesNothing) {
#ifdef KEGKIT_SANITIZED
    GTEST_SKIP() << "the sanitizers need more address space than the limit allows";
#endif
    if (testing_windows_build()) GTEST_SKIP() << "wine does not start under an address-space limit";
    TempDir dir;
    write_file_bytes(dir.file("B.bmp"), make_bmp24(4, 4, 0));
    write_file_bytes(dir.file("D.bmp"), make_bmp32(2, 2, 0));
    Bytes huge = make_bmp24(4, 4, 0);
    put_le32(huge, 18, 10000);
    put_le32(huge, 22, 10000);  // 300 MB of pixels claimed by a 102-byte file
    write_file_bytes(dir.file("H.bmp"), huge);
    write_file_bytes(dir.file("evinfo.bin"), make_event_table({{"E1", "B", "D"}, {"E2", "H", "D"}, {"E3", "B", "D"}}));
    const RunResult r = run_program(palimp_path(), {"evinfo.bin", "-cleanup"}, dir.path, 64u << 20);
    EXPECT_EQ(r.status, FATAL);
    EXPECT_EQ(r.err, "out of memory\n");
    EXPECT_EQ(list_tree(dir.path), (std::vector<std::string>{"B.bmp", "D.bmp", "E1.bmp", "H.bmp", "evinfo.bin"}));
}

}  // namespace
