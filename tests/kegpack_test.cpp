// kegpack: its encoders, and archives and tables it writes, checked by
// extracting them with the real kegsplit programs and merging with palimp.
#include <gtest/gtest.h>

#include <random>

#include "decoders.h"
#include "encoders.h"
#include "kegpack.h"
#include "lzss_greedy.h"
#include "test_support.h"

namespace {

const ArchiveLayout *const LAYOUTS[] = {&LAYOUT_2_11, &LAYOUT_2_12, &LAYOUT_2_13};

Bytes mixed_data(uint32_t seed, size_t size) {
    std::mt19937 rng(seed);
    Bytes d(size);
    for (size_t i = 0; i < size; ++i) {
        const unsigned kind = rng() % 4;
        d[i] = kind == 0 ? static_cast<uint8_t>(rng()) : kind == 1 && i > 300 ? d[i - 1 - rng() % 300] : i ? d[i - 1] : 0;
    }
    return d;
}

TEST(Encoders, DecodeBackAndBeatTheSimpleOnes) {
    for (uint32_t seed = 0; seed < 30; ++seed) {
        const Bytes d = seed % 7 == 0 ? Bytes(5000 + seed, 0) : mixed_data(seed, 100 + seed * 997);
        const Bytes lz = encode_lzss(d.data(), d.size());
        Bytes out(d.size());
        ASSERT_EQ(decode_lzss(out.data(), out.size(), lz.data(), lz.size()), d.size());
        ASSERT_EQ(out, d) << seed;
        EXPECT_LE(lz.size(), encode_lzss_greedy(d.data(), d.size()).size()) << seed;

        const Bytes rle = encode_rle(d.data(), d.size());
        ASSERT_EQ(decode_rle(out.data(), out.size(), rle.data(), rle.size()), d.size());
        ASSERT_EQ(out, d) << seed;
        EXPECT_LE(rle.size(), encode_rle_simple(d).size()) << seed;
    }
    EXPECT_TRUE(encode_lzss(nullptr, 0).empty());
    EXPECT_TRUE(encode_rle(nullptr, 0).empty());
}

TEST(Encoders, RunLengthIsOptimalOnSmallInputs) {
    // Against an exhaustive search over every packet sequence.
    std::mt19937 rng(9);
    for (int round = 0; round < 300; ++round) {
        Bytes d(1 + rng() % 12);
        for (auto &b : d) b = static_cast<uint8_t>(rng() % 2);
        std::vector<size_t> best(d.size() + 1, 0);
        for (size_t i = d.size(); i-- > 0;) {
            best[i] = SIZE_MAX;
            for (size_t m = 1; i + m <= d.size(); ++m) best[i] = std::min(best[i], 2 + m + best[i + m]);
            for (size_t l = 1; i + l <= d.size() && d[i + l - 1] == d[i]; ++l) best[i] = std::min(best[i], 2 + best[i + l]);
        }
        EXPECT_EQ(encode_rle(d.data(), d.size()).size(), best[0]);
    }
}

TEST(Encoders, LzssUsesTheWindowsInitialZeros) {
    const Bytes zeros(300, 0);
    const Bytes lz = encode_lzss(zeros.data(), zeros.size());
    EXPECT_LT(lz.size(), encode_lzss_greedy(zeros.data(), zeros.size()).size());
    Bytes out(zeros.size(), 1);
    decode_lzss(out.data(), out.size(), lz.data(), lz.size());
    EXPECT_EQ(out, zeros);
}

class Kegpack : public testing::TestWithParam<const ArchiveLayout *> {
protected:
    const ArchiveLayout &layout() const { return *GetParam(); }
    std::string revision() const { return revision_of_layout(layout()); }
    std::vector<std::string> modes() const {
        std::vector<std::string> m = {"lzss", "rle", "smallest"};
        if (layout().stored_bit) m.push_back("stored");
        return m;
    }
    RunResult kegpack(const std::vector<std::string> &args) { return run_program(kegpack_path(), args, dir.path); }
    TempDir dir;
};

TEST_P(Kegpack, CreatedArchivesExtractToTheirPictures) {
    const Bytes bg = make_bmp24(33, 21, 1), mask = make_mask8(12, 9, 2), ev = make_bmp24(12, 9, 3);
    write_file_bytes(dir.file("bg.bmp"), bg);
    write_file_bytes(dir.file("m.bmp"), mask);
    write_file_bytes(dir.file("ev.bmp"), ev);
    write_file_bytes(dir.file("list"), Bytes{});
    const std::string manifest = "# a comment\npicture bg01.bmp bg.bmp\n\nmask m m.bmp -7 12\npicture ev01 ev.bmp\n";
    write_file_bytes(dir.file("manifest"), Bytes(manifest.begin(), manifest.end()));
    for (const std::string &mode : modes()) {
        SCOPED_TRACE(mode);
        RunResult r = kegpack({"create", "-r", revision(), "-m", mode, "-o", "a.cgf", "manifest"});
        ASSERT_EQ(r.status, 0) << r.err;
        TempDir out;
        write_file_bytes(out.file("a.cgf"), read_file_bytes(dir.file("a.cgf")));
        r = run_program(kegsplit_path(layout()), {"a.cgf"}, out.path);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(list_tree(out.path), (std::vector<std::string>{"a.cgf", "bg01.bmp", "ev01+x-7y12.bmp"}));
        EXPECT_EQ(read_file_bytes(out.file("bg01.bmp")), bg);
        EXPECT_EQ(read_file_bytes(out.file("ev01+x-7y12.bmp")), expected_composed(ev, mask));
    }
}

TEST_P(Kegpack, RepackReproducesAnExtraction) {
    // An extraction with plain pictures, two groups sharing a placement but
    // not an alpha channel, pictures of odd sizes and dotted names.
    Bytes empty = make_bmp24(0, 3, 1);
    put_le32(empty, 2, 60);  // a file size of 54 would make it a bogus image in 2.12 and 2.13
    Bytes odd = make_bmp24(5, 3, 9);
    odd.resize(odd.size() - 2);  // not even a whole picture: plain entries are any bytes
    const std::vector<TestEntry> entries = {
        {"bg01.bmp", false, 0, 0, make_bmp24(17, 11, 1), PACK_LZSS},
        {"a.b.bmp", false, 0, 0, odd, PACK_RLE},
        {"x+x1y2.bmp", false, 0, 0, make_bmp24(2, 2, 5), PACK_LZSS},  // a suffix, but plain
        {"m1", true, 4, -2, make_mask8(9, 7, 3), PACK_LZSS},
        {"ev01.bmp", false, 0, 0, make_bmp24(9, 7, 4), PACK_LZSS},
        {"ev02", false, 0, 0, make_bmp24(6, 5, 6), PACK_RLE},
        {"m2", true, 4, -2, make_mask8(9, 7, 8), PACK_LZSS},
        {"ev03.v2.bmp", false, 0, 0, make_bmp24(9, 7, 7), PACK_LZSS},
        {"m3", true, 0, 0, make_mask8(1, 1, 1), PACK_LZSS},
        {"ev04", false, 0, 0, empty, PACK_LZSS},
    };
    TempDir first, second;
    write_file_bytes(first.file("a.cgf"), build_archive(layout(), entries));
    RunResult r = run_program(kegsplit_path(layout()), {"a.cgf"}, first.path);
    ASSERT_EQ(r.status, 0) << r.err;
    std::remove(first.file("a.cgf").c_str());
    const std::vector<std::string> extracted = list_tree(first.path);
    ASSERT_EQ(extracted.size(), 7u);
    for (const std::string &mode : modes()) {
        SCOPED_TRACE(mode);
        r = kegpack({"repack", "-r", revision(), "-m", mode, "-o", second.file("b.cgf"), first.path});
        ASSERT_EQ(r.status, 0) << r.err;
        r = run_program(kegsplit_path(layout()), {"b.cgf"}, second.path);
        ASSERT_EQ(r.status, 0) << r.err;
        std::remove(second.file("b.cgf").c_str());
        ASSERT_EQ(list_tree(second.path), extracted);
        for (const std::string &name : extracted)
            EXPECT_EQ(read_file_bytes(second.file(name)), read_file_bytes(first.file(name))) << name;
    }
}

TEST_P(Kegpack, ListNamesTheRevision) {
    const Bytes archive = build_archive(layout(), {{"bg.bmp", false, 0, 0, make_bmp24(4, 4, 1), PACK_LZSS},
                                                   {"m", true, 3, -4, make_mask8(4, 4, 0), PACK_RLE},
                                                   {"ev.bmp", false, 0, 0, make_bmp24(4, 4, 2), PACK_LZSS}});
    write_file_bytes(dir.file("a.cgf"), archive);
    const RunResult r = kegpack({"list", "a.cgf"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, r.out.find('\n')), "fits: kegsplit-" + revision());
    EXPECT_NE(r.out.find("+x3y-4"), std::string::npos);
    EXPECT_NE(r.out.find("ev.bmp"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(AllRevisions, Kegpack, testing::ValuesIn(LAYOUTS),
                         [](const testing::TestParamInfo<const ArchiveLayout *> &info) {
                             return std::string(info.param == &LAYOUT_2_11   ? "v211"
                                                : info.param == &LAYOUT_2_12 ? "v212"
                                                                             : "v213");
                         });

class KegpackCli : public testing::Test {
protected:
    RunResult kegpack(const std::vector<std::string> &args) { return run_program(kegpack_path(), args, dir.path); }
    void put(const std::string &name, const std::string &text) { write_file_bytes(dir.file(name), Bytes(text.begin(), text.end())); }
    TempDir dir;
};

TEST_F(KegpackCli, HelpAndErrors) {
    RunResult r = kegpack({"--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("usage: kegpack", 0), 0u);
    r = kegpack({});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("usage: kegpack", 0), 0u);

    write_file_bytes(dir.file("p.bmp"), make_bmp24(2, 2, 0));
    put("long", "picture abcdefghijklmnop p.bmp\n");
    put("ok", "picture p p.bmp\n");
    put("stored", "picture p p.bmp stored\n");
    put("bad", "picture\n");
    const struct {
        std::vector<std::string> args;
        std::string err;
    } cases[] = {
        {{"unpack"}, "kegpack: unknown command \"unpack\" (see kegpack --help)\n"},
        {{"create", "ok"}, "kegpack: create needs -o OUT.cgf\n"},
        {{"create", "-o", "a.cgf", "-x", "ok"}, "kegpack: unknown option -x (see kegpack --help)\n"},
        {{"create", "-o"}, "kegpack: -o needs a value\n"},
        {{"create", "-r", "2.14", "-o", "a.cgf", "ok"}, "kegpack: unknown revision \"2.14\" (2.11, 2.12 or 2.13)\n"},
        {{"create", "-m", "zip", "-o", "a.cgf", "ok"}, "kegpack: unknown packing mode \"zip\" (lzss, rle, stored, smallest)\n"},
        {{"create", "-r", "2.12", "-m", "stored", "-o", "a.cgf", "ok"}, "kegpack: revision 2.12 has no stored mode\n"},
        {{"create", "-r", "2.11", "-o", "a.cgf", "stored"}, "kegpack: entry \"p\": revision 2.11 has no stored mode\n"},
        {{"create", "-r", "2.13", "-o", "a.cgf", "long"},
         "kegpack: entry name \"abcdefghijklmnop\" does not fit revision 2.13 (1 to 15 characters)\n"},
        {{"create", "-o", "a.cgf", "bad"},
         "kegpack: bad:1: expected \"picture NAME FILE [MODE]\" or \"mask NAME FILE X Y [MODE]\"\n"},
        {{"list", "missing.cgf"}, "kegpack: cannot read missing.cgf\n"},
        {{"events", "write", "ok"}, "kegpack: events write needs -o evinfo.bin and one list\n"},
    };
    for (const auto &c : cases) {
        r = kegpack(c.args);
        EXPECT_EQ(r.status, 1) << c.err;
        EXPECT_EQ(r.err, c.err);
    }
    EXPECT_FALSE(file_exists(dir.file("a.cgf")));
    // The same long name fits revision 2.12; "--" ends the options.
    r = kegpack({"create", "-r", "2.12", "-o", "a.cgf", "--", "long"});
    EXPECT_EQ(r.status, 0) << r.err;
}

TEST_F(KegpackCli, EventTablesWriteAndPrint) {
    put("events.txt", "# event base delta\nev01 bg01 fc01\nev02  bg01\tfc02\n");
    RunResult r = kegpack({"events", "write", "-o", "evinfo.bin", "events.txt"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file_bytes(dir.file("evinfo.bin")),
              make_event_table({{"ev01", "bg01", "fc01"}, {"ev02", "bg01", "fc02"}}).size() == 172
                  ? [] {
                        Bytes t = make_event_table({{"ev01", "bg01", "fc01"}, {"ev02", "bg01", "fc02"}});
                        std::fill(t.begin() + 4 + 48, t.begin() + 4 + 84, 0);
                        std::fill(t.begin() + 4 + 84 + 48, t.end(), 0);
                        return t;
                    }()
                  : Bytes{});
    r = kegpack({"events", "print", "evinfo.bin"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "ev01 bg01 fc01\nev02 bg01 fc02\n");

    put("long.txt", "ev01 a_name_of_16_chr fc01\n");
    r = kegpack({"events", "write", "-o", "x.bin", "long.txt"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "kegpack: line 1: \"a_name_of_16_chr\" is longer than the 15 characters a name holds\n");
    put("short.bin", std::string("\x02\0\0\0", 4) + std::string(84, 'a'));
    r = kegpack({"events", "print", "short.bin"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "kegpack: short.bin: truncated event table\n");
}

}  // namespace

namespace {

// A disk that fills up: the archive or table is never left cut short, and
// neither is a temporary file; a file of that name from before stays as it was.
TEST_F(KegpackCli, WriteFailuresLeaveNothingBehind) {
    write_file_bytes(dir.file("p.bmp"), make_bmp24(64, 64, 0));
    put("ok", "picture p p.bmp stored\n");
    put("events.txt", "ev01 bg01 fc01\n");
    put("old.cgf", "an older archive");
    RunResult r = run_program(kegpack_path(), {"create", "-o", "old.cgf", "ok"}, dir.path, 0, 1000);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "kegpack: cannot write old.cgf (File too large)\n");
    r = run_program(kegpack_path(), {"events", "write", "-o", "evinfo.bin", "events.txt"}, dir.path, 0, 50);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "kegpack: cannot write evinfo.bin (File too large)\n");
    EXPECT_EQ(list_tree(dir.path), (std::vector<std::string>{"events.txt", "ok", "old.cgf", "p.bmp"}));
    const std::string old = "an older archive";
    EXPECT_EQ(read_file_bytes(dir.file("old.cgf")), Bytes(old.begin(), old.end()));
}

}  // namespace
