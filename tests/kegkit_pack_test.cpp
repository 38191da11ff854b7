// kegkit create, repack and events: the packers, and archives and tables
// checked by extracting them with the real kegsplit programs; PNG files
// through the whole modding loop, pixel for pixel.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <random>

#include "bmp.h"
#include "decoders.h"
#include "encoders.h"
#include "packing.h"
#include "png_image.h"
#include "test_support.h"

namespace {

const ArchiveLayout *const LAYOUTS[] = {&LAYOUT_2_11, &LAYOUT_2_12, &LAYOUT_2_13};

Bytes mixed_data(uint32_t seed, size_t size) {
    std::mt19937 rng(seed);
    Bytes d(size);
    for (size_t i = 0; i < size; ++i) {
        const unsigned kind = rng() % 4;
        d[i] = kind == 0              ? static_cast<uint8_t>(rng())
               : kind == 1 && i > 300 ? d[i - 1 - rng() % 300]
               : i                    ? d[i - 1]
                                      : 0;
    }
    return d;
}

Bytes text_bytes(const std::string &text) { return Bytes(text.begin(), text.end()); }

// Changes a PNG file as an image editor would: `edit` gets the decoded picture.
template <typename Edit>
void edit_png(const std::string &path, Edit edit) {
    const Bytes file = read_file_bytes(path);
    Picture picture;
    std::string error;
    ASSERT_TRUE(decode_png(file.data(), file.size(), picture, error)) << path << ": " << error;
    edit(picture);
    Bytes png;
    ASSERT_TRUE(encode_png(picture_view(picture), PngOptions(), png, error)) << error;
    write_file_bytes(path, png);
}

TEST(Encoders, DecodeBackAndBeatTheSimpleOnes) {
    for (uint32_t seed = 0; seed < 30; ++seed) {
        const Bytes d = seed % 7 == 0 ? Bytes(5000 + seed, 0) : mixed_data(seed, 100 + seed * 997);
        const Bytes lz = encode_lzss(d.data(), d.size());
        Bytes out(d.size());
        ASSERT_EQ(decode_lzss(out.data(), out.size(), lz.data(), lz.size()), d.size());
        ASSERT_EQ(out, d) << seed;
        const Bytes greedy = encode_lzss_greedy(d.data(), d.size());
        EXPECT_LE(lz.size(), greedy.size()) << seed;
        ASSERT_EQ(decode_lzss(out.data(), out.size(), greedy.data(), greedy.size()), d.size());
        ASSERT_EQ(out, d) << seed;

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
            for (size_t l = 1; i + l <= d.size() && d[i + l - 1] == d[i]; ++l)
                best[i] = std::min(best[i], 2 + best[i + l]);
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

class KegkitPack : public testing::TestWithParam<const ArchiveLayout *> {
protected:
    const ArchiveLayout &layout() const { return *GetParam(); }
    std::string revision() const { return revision_of_layout(layout()); }
    std::vector<std::string> modes() const {
        std::vector<std::string> m = {"lzss", "rle", "smallest"};
        if (layout().stored_bit) m.push_back("stored");
        return m;
    }
    RunResult kegkit(const std::vector<std::string> &args) { return run_program(kegkit_path(), args, dir.path); }
    // kegsplit of this revision on `archive` in a fresh folder `out` below
    // dir (with the "cg" folder that kegsplit does not make itself).
    RunResult kegsplit(const std::string &archive, const std::string &out) {
        mkdir(dir.file(out).c_str(), 0700);
        mkdir(dir.file(out + "/cg").c_str(), 0700);
        return run_program(kegsplit_path(layout()), {"../" + archive}, dir.file(out));
    }
    TempDir dir;
};

TEST_P(KegkitPack, CreatedArchivesExtractToTheirPictures) {
    const Bytes bg = make_bmp24(33, 21, 1), mask = make_mask8(12, 9, 2), ev = make_bmp24(12, 9, 3);
    write_file_bytes(dir.file("bg.bmp"), bg);
    write_file_bytes(dir.file("m.bmp"), mask);
    write_file_bytes(dir.file("ev.bmp"), ev);
    write_file_bytes(dir.file("manifest"),
                     text_bytes("# a comment\npicture bg01.bmp bg.bmp\n\nmask m m.bmp -7 12\npicture ev01 ev.bmp\n"));
    for (const std::string &mode : modes()) {
        SCOPED_TRACE(mode);
        RunResult r = kegkit({"create", "-r", revision(), "-m", mode, "-o", "a.cgf", "manifest"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
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

TEST_P(KegkitPack, RepackReproducesAnExtraction) {
    // An extraction with plain pictures, a subfolder, two groups sharing a
    // placement but not an alpha channel, pictures of odd sizes and dotted names.
    Bytes empty = make_bmp24(0, 3, 1);
    put_le32(empty, 2, 60);  // a file size of 54 would make it a bogus image in 2.12 and 2.13
    Bytes odd = make_bmp24(5, 3, 9);
    odd.resize(odd.size() - 2);  // not even a whole picture: plain entries are any bytes
    const std::vector<TestEntry> entries = {
        {"bg01.bmp", false, 0, 0, make_bmp24(17, 11, 1), PACK_LZSS},
        {"a.b.bmp", false, 0, 0, odd, PACK_RLE},
        {"x+x1y2.bmp", false, 0, 0, make_bmp24(2, 2, 5), PACK_LZSS},  // a suffix, but plain
        {"cg\\bg02", false, 0, 0, make_bmp24(3, 2, 2), PACK_LZSS},
        {"m1", true, 4, -2, make_mask8(9, 7, 3), PACK_LZSS},
        {"ev01.bmp", false, 0, 0, make_bmp24(9, 7, 4), PACK_LZSS},
        {"ev02", false, 0, 0, make_bmp24(6, 5, 6), PACK_RLE},
        {"cg\\ev05", false, 0, 0, make_bmp24(9, 7, 10), PACK_RLE},
        {"m2", true, 4, -2, make_mask8(9, 7, 8), PACK_LZSS},
        {"ev03.v2.bmp", false, 0, 0, make_bmp24(9, 7, 7), PACK_LZSS},
        {"m3", true, 0, 0, make_mask8(1, 1, 1), PACK_LZSS},
        {"ev04", false, 0, 0, empty, PACK_LZSS},
    };
    write_file_bytes(dir.file("a.cgf"), build_archive(layout(), entries));
    RunResult r = kegsplit("a.cgf", "first");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> extracted = list_tree(dir.file("first"));
    ASSERT_EQ(extracted.size(), 9u);
    for (const std::string &mode : modes()) {
        SCOPED_TRACE(mode);
        std::filesystem::remove_all(dir.file("second"));
        r = kegkit({"repack", "-r", revision(), "-m", mode, "-o", "b.cgf", "first"});
        ASSERT_EQ(r.status, 0) << r.err;
        // ev01 and ev02 under m1 differ in size, so in alpha channel.
        EXPECT_EQ(r.err, "kegkit: 1 group split: its pictures no longer share one alpha channel\n");
        r = kegsplit("b.cgf", "second");
        ASSERT_EQ(r.status, 0) << r.err;
        ASSERT_EQ(list_tree(dir.file("second")), extracted);
        for (const std::string &name : extracted)
            EXPECT_EQ(read_file_bytes(dir.file("second/" + name)), read_file_bytes(dir.file("first/" + name))) << name;
    }
}

// The modding loop: extract as PNG, edit, repack from the PNG files, and
// kegsplit gives back exactly the edited pixels. The edited alpha channel
// takes one picture out of its group.
TEST_P(KegkitPack, PngRoundTripKeepsEveryPixel) {
    if (!have_imagemagick()) GTEST_SKIP() << "ImageMagick's convert is not installed";
    const std::vector<TestEntry> entries = {
        {"bg01", false, 0, 0, make_bmp24(33, 17, 1), PACK_LZSS},
        {"cg\\bg02", false, 0, 0, make_bmp24(8, 8, 2), PACK_RLE},
        {"grey.bmp", false, 0, 0, make_mask8(9, 5, 3), PACK_LZSS},
        {"alpha", false, 0, 0, make_bmp32(6, 7, 4), PACK_LZSS},
        {"junk", false, 0, 0, Bytes{'B', 'M', 1, 2, 3}, PACK_LZSS},
        {"m1", true, -8, 16, make_mask8(12, 10, 6), PACK_RLE},
        {"ev01", false, 0, 0, make_bmp24(12, 10, 7), PACK_LZSS},
        {"ev02", false, 0, 0, make_bmp24(12, 10, 8), PACK_LZSS},
        {"cg\\ev03", false, 0, 0, make_bmp24(12, 10, 9), PACK_LZSS},
    };
    write_file_bytes(dir.file("a.cgf"), build_archive(layout(), entries));
    RunResult r = kegkit({"extract", "--png", "-r", revision(), "-o", "x", "a.cgf"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> files = list_tree(dir.file("x"));
    ASSERT_EQ(files, (std::vector<std::string>{"alpha.png", "bg01.png", "cg/bg02.png", "cg/ev03+x-8y16.png",
                                               "ev01+x-8y16.png", "ev02+x-8y16.png", "grey.png", "junk.bmp"}));
    edit_png(dir.file("x/bg01.png"), [](Picture &p) { p.buffer.pixels[5] = 0xAB; });
    edit_png(dir.file("x/ev02+x-8y16.png"), [](Picture &p) {
        p.buffer.pixels[3] ^= 0x55;   // an alpha
        p.buffer.pixels[40] ^= 0x0F;  // a colour
    });

    r = kegkit({"repack", "-r", revision(), "-o", "new.cgf", "x"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "kegkit: 1 group split: its pictures no longer share one alpha channel\n");
    r = kegsplit("new.cgf", "y");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    std::vector<std::string> expected;
    for (const std::string &f : files) expected.push_back(f.substr(0, f.size() - 4) + ".bmp");
    ASSERT_EQ(list_tree(dir.file("y")), expected);
    for (const std::string &f : files) {
        const std::string bmp = dir.file("y/" + f.substr(0, f.size() - 4) + ".bmp");
        if (f == "junk.bmp") {
            EXPECT_EQ(read_file_bytes(bmp), read_file_bytes(dir.file("x/junk.bmp")));
            continue;
        }
        const Bytes png = imagemagick_rgba(dir.file("x/" + f));
        ASSERT_FALSE(png.empty()) << f;
        EXPECT_EQ(bmp_rgba(bmp), png) << f;
    }
}

TEST_P(KegkitPack, ListNamesTheRevision) {
    const Bytes archive = build_archive(layout(), {{"bg.bmp", false, 0, 0, make_bmp24(4, 4, 1), PACK_LZSS},
                                                   {"m", true, 3, -4, make_mask8(4, 4, 0), PACK_RLE},
                                                   {"ev.bmp", false, 0, 0, make_bmp24(4, 4, 2), PACK_LZSS}});
    write_file_bytes(dir.file("a.cgf"), archive);
    const RunResult r = kegkit({"list", "a.cgf"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, r.out.find('\n')), "fits: kegsplit-" + revision());
    EXPECT_NE(r.out.find("+x3y-4"), std::string::npos);
    EXPECT_NE(r.out.find("ev.bmp"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(AllRevisions, KegkitPack, testing::ValuesIn(LAYOUTS),
                         [](const testing::TestParamInfo<const ArchiveLayout *> &info) {
                             return std::string(info.param == &LAYOUT_2_11   ? "v211"
                                                : info.param == &LAYOUT_2_12 ? "v212"
                                                                             : "v213");
                         });

class KegkitPackCli : public testing::Test {
protected:
    RunResult kegkit(const std::vector<std::string> &args) { return run_program(kegkit_path(), args, dir.path); }
    void put(const std::string &name, const std::string &text) { write_file_bytes(dir.file(name), text_bytes(text)); }
    TempDir dir;
};

TEST_F(KegkitPackCli, HelpAndErrors) {
    for (const std::string command : {"create", "repack", "events"}) {
        const RunResult r = kegkit({command, "--help"});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out.rfind("usage: kegkit " + command, 0), 0u) << r.out;
    }

    write_file_bytes(dir.file("p.bmp"), make_bmp24(2, 2, 0));
    put("long", "picture abcdefghijklmnop p.bmp\n");
    put("ok", "picture p p.bmp\n");
    put("stored", "picture p p.bmp stored\n");
    put("bad", "picture\n");
    mkdir(dir.file("empty").c_str(), 0700);
    const struct {
        std::vector<std::string> args;
        int status;
        std::string err;
    } cases[] = {
        {{"create", "ok"}, 2, "kegkit: create needs -o OUT.cgf (see kegkit create --help)\n"},
        {{"create", "-o", "a.cgf", "-x", "ok"}, 2, "kegkit: unknown option -x (see kegkit create --help)\n"},
        {{"create", "-o"}, 2, "kegkit: -o needs a value (see kegkit create --help)\n"},
        {{"create", "-o", "a.cgf", "ok", "ok"}, 2, "kegkit: create takes one manifest (see kegkit create --help)\n"},
        {{"repack", "-o", "a.cgf"}, 2, "kegkit: repack takes one folder (see kegkit repack --help)\n"},
        {{"create", "-r", "2.14", "-o", "a.cgf", "ok"},
         2,
         "kegkit: unknown revision \"2.14\" (2.11, 2.12 or 2.13) (see kegkit create --help)\n"},
        {{"repack", "-m", "zip", "-o", "a.cgf", "."},
         2,
         "kegkit: unknown packing mode \"zip\" (lzss, rle, stored, smallest) (see kegkit repack --help)\n"},
        {{"create", "-r", "2.12", "-m", "stored", "-o", "a.cgf", "ok"},
         2,
         "kegkit: revision 2.12 has no stored mode (see kegkit create --help)\n"},
        {{"events"}, 2, "kegkit: events needs \"write\" or \"print\" (see kegkit events --help)\n"},
        {{"events", "write", "ok"}, 2, "kegkit: events write needs -o evinfo.bin (see kegkit events --help)\n"},
        {{"events", "print", "-o", "x", "t"}, 2, "kegkit: unknown option -o (see kegkit events --help)\n"},
        {{"create", "-r", "2.11", "-o", "a.cgf", "stored"},
         1,
         "kegkit: stored:1: entry \"p\": revision 2.11 has no stored mode\n"},
        {{"create", "-r", "2.13", "-o", "a.cgf", "long"},
         1,
         "kegkit: long:1: entry name \"abcdefghijklmnop\" does not fit revision 2.13 (1 to 15 characters)\n"},
        {{"create", "-o", "a.cgf", "bad"},
         1,
         "kegkit: bad:1: expected \"picture NAME FILE [MODE]\" or \"mask NAME FILE X Y [MODE]\"\n"},
        {{"create", "-o", "a.cgf", "missing"}, 1, "kegkit: cannot read missing (" + open_error_text(ENOENT) + ")\n"},
        {{"create", "-o", "a.cgf", "empty"}, 1, "kegkit: cannot read empty (a folder)\n"},
        {{"repack", "-o", "a.cgf", "ok"}, 1, "kegkit: cannot list ok (Not a directory)\n"},
        {{"repack", "-o", "a.cgf", "empty"}, 1, "kegkit: empty holds no pictures (.bmp or .png files)\n"},
    };
    for (const auto &c : cases) {
        const RunResult r = kegkit(c.args);
        EXPECT_EQ(r.status, c.status) << c.err;
        EXPECT_EQ(r.err, c.err);
    }
    EXPECT_FALSE(file_exists(dir.file("a.cgf")));
    // The same long name fits revision 2.12; "--" ends the options.
    const RunResult r = kegkit({"create", "-r", "2.12", "-o", "a.cgf", "--", "long"});
    EXPECT_EQ(r.status, 0) << r.err;
}

// A manifest may name PNG files: they give the same archive as the BMP
// files they were converted from. A mask in PNG is indexed or grey.
TEST_F(KegkitPackCli, CreateTakesPngFiles) {
    write_file_bytes(dir.file("bg.bmp"), make_bmp24(33, 21, 1));
    write_file_bytes(dir.file("m.bmp"), make_mask8(12, 9, 2));  // no padding: the rows are whole
    write_file_bytes(dir.file("ev.bmp"), make_bmp24(12, 9, 3));
    RunResult r = kegkit({"convert", "-o", "png", "bg.bmp", "m.bmp", "ev.bmp"});
    ASSERT_EQ(r.status, 0) << r.err;
    put("bmp.list", "picture bg01 bg.bmp\nmask m m.bmp -7 12\npicture ev01 ev.bmp\n");
    put("png.list", "picture bg01 png/bg.png\nmask m png/m.png -7 12\npicture ev01 png/ev.png\n");
    put("rgb-mask.list", "mask m png/ev.png 0 0\n");
    ASSERT_EQ(kegkit({"create", "-o", "bmp.cgf", "bmp.list"}).status, 0);
    r = kegkit({"create", "-o", "png.cgf", "png.list"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file_bytes(dir.file("png.cgf")), read_file_bytes(dir.file("bmp.cgf")));
    r = kegkit({"create", "-o", "x.cgf", "rgb-mask.list"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "kegkit: rgb-mask.list:1: png/ev.png: a mask must be an indexed PNG, or a grey one without alpha\n");

    if (!have_imagemagick()) GTEST_SKIP() << "ImageMagick's convert is not installed";
    ASSERT_EQ(std::system(("/usr/bin/convert '" + dir.file("m.bmp") + "' -define png:color-type=0 -depth 8 '" +
                           dir.file("grey.png") + "'")
                              .c_str()),
              0);
    EXPECT_EQ(read_file_bytes(dir.file("grey.png"))[25], 0) << "not a grey PNG";
    put("grey.list", "picture bg01 png/bg.png\nmask m grey.png -7 12\npicture ev01 png/ev.png\n");
    r = kegkit({"create", "-o", "grey.cgf", "grey.list"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file_bytes(dir.file("grey.cgf")), read_file_bytes(dir.file("bmp.cgf")));
}

// What repack refuses, with one line naming the file, writing nothing.
TEST_F(KegkitPackCli, RepackRefusesWhatItCannotStore) {
    put("old.cgf", "an older archive");
    mkdir(dir.file("x").c_str(), 0700);
    mkdir(dir.file("x/cg").c_str(), 0700);
    write_file_bytes(dir.file("x/bg01.bmp"), make_bmp24(4, 4, 1));
    write_file_bytes(dir.file("x/cg/abcdefghijk.bmp"), make_bmp24(4, 4, 2));  // 14 characters with "cg\"
    auto refused = [&](const std::vector<std::string> &args, const std::string &err) {
        const RunResult r = kegkit(args);
        EXPECT_EQ(r.status, 1) << err;
        EXPECT_EQ(r.err, err);
        EXPECT_EQ(read_file_bytes(dir.file("old.cgf")), text_bytes("an older archive"));
        EXPECT_EQ(list_tree(dir.path).size(), 4u);
    };
    const uint8_t pixels[8] = {1, 2, 3, 4, 5, 6, 0, 0};
    Bytes png;
    std::string error;
    ASSERT_TRUE(encode_png(PixelView{pixels, 2, 1, 3, 8, nullptr, 0}, PngOptions(), png, error)) << error;
    png.resize(png.size() / 2);
    write_file_bytes(dir.file("x/cg/abcdefghijklm.png"), png);
    refused({"repack", "-o", "old.cgf", "x"}, "kegkit: x/cg/abcdefghijklm.png: truncated\n");
    write_file_bytes(dir.file("x/cg/abcdefghijklm.png"), read_file_bytes(dir.file("x/bg01.bmp")));
    refused({"repack", "-o", "old.cgf", "x"}, "kegkit: x/cg/abcdefghijklm.png: not a PNG file\n");
    std::filesystem::rename(dir.file("x/cg/abcdefghijklm.png"), dir.file("x/cg/abcdefghijklm.bmp"));
    refused({"repack", "-o", "old.cgf", "x"},
            "kegkit: x/cg/abcdefghijklm.bmp: entry name \"cg\\abcdefghijklm\" does not fit revision 2.13 (1 to 15 "
            "characters)\n");
    EXPECT_EQ(kegkit({"repack", "-r", "2.12", "-o", "new.cgf", "x"}).status, 0);  // 27 characters there
    std::filesystem::remove(dir.file("new.cgf"));
    std::filesystem::remove(dir.file("x/cg/abcdefghijklm.bmp"));

    write_file_bytes(dir.file("x/bg01.png"), Bytes{});
    refused({"repack", "-o", "old.cgf", "x"},
            "kegkit: x/bg01.bmp and x/bg01.png are one picture in an archive (keep one of them)\n");
    std::filesystem::remove(dir.file("x/bg01.png"));

    // Larger than an entry of 2.13 holds: refused before it is read.
    write_file_bytes(dir.file("x/big.bmp"), Bytes{});
    std::filesystem::resize_file(dir.file("x/big.bmp"), uint64_t{1} << 30);
    refused({"repack", "-o", "old.cgf", "x"},
            "kegkit: x/big.bmp: too large for revision 2.13 (more than the 1073741823 bytes an entry holds)\n");
    std::filesystem::remove(dir.file("x/big.bmp"));

    if (!have_imagemagick()) GTEST_SKIP() << "ImageMagick's convert is not installed";
    ASSERT_EQ(
        std::system(("/usr/bin/convert -size 3x2 xc:red -depth 16 'PNG48:" + dir.file("x/deep.png") + "'").c_str()), 0);
    refused({"repack", "-o", "old.cgf", "x"}, "kegkit: x/deep.png: 16-bit channels\n");
}

TEST_F(KegkitPackCli, EventTablesWriteAndPrint) {
    put("events.txt", "# event base delta\nev01 bg01 fc01\nev02  bg01\tfc02\n");
    RunResult r = kegkit({"events", "write", "-o", "evinfo.bin", "events.txt"});
    ASSERT_EQ(r.status, 0) << r.err;
    Bytes table = make_event_table({{"ev01", "bg01", "fc01"}, {"ev02", "bg01", "fc02"}});
    std::fill(table.begin() + 4 + 48, table.begin() + 4 + 84, 0);  // the fields the merger does not read
    std::fill(table.begin() + 4 + 84 + 48, table.end(), 0);
    EXPECT_EQ(read_file_bytes(dir.file("evinfo.bin")), table);
    r = kegkit({"events", "print", "evinfo.bin"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "ev01 bg01 fc01\nev02 bg01 fc02\n");

    put("long.txt", "ev01 a_name_of_16_chr fc01\n");
    r = kegkit({"events", "write", "-o", "x.bin", "long.txt"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "kegkit: long.txt: line 1: \"a_name_of_16_chr\" is longer than the 15 characters a name holds\n");
    put("short.bin", std::string("\x02\0\0\0", 4) + std::string(84, 'a'));
    r = kegkit({"events", "print", "short.bin"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "kegkit: short.bin: truncated event table\n");
    EXPECT_FALSE(file_exists(dir.file("x.bin")));
}

// A disk that fills up: the archive or table is never left cut short, and
// neither is a temporary file; a file of that name from before stays as it was.
TEST_F(KegkitPackCli, WriteFailuresLeaveNothingBehind) {
    write_file_bytes(dir.file("p.bmp"), make_bmp24(64, 64, 0));
    put("ok", "picture p p.bmp stored\n");
    put("events.txt", "ev01 bg01 fc01\n");
    put("old.cgf", "an older archive");
    RunResult r = run_program(kegkit_path(), {"create", "-o", "old.cgf", "ok"}, dir.path, 0, 1000);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "kegkit: cannot write old.cgf (" + file_too_large_text() + ")\n");
    r = run_program(kegkit_path(), {"repack", "-m", "stored", "-o", "old.cgf", "."}, dir.path, 0, 1000);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "kegkit: cannot write old.cgf (" + file_too_large_text() + ")\n");
    r = run_program(kegkit_path(), {"events", "write", "-o", "evinfo.bin", "events.txt"}, dir.path, 0, 80);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "kegkit: cannot write evinfo.bin (" + file_too_large_text() + ")\n");
    EXPECT_EQ(list_tree(dir.path), (std::vector<std::string>{"events.txt", "ok", "old.cgf", "p.bmp"}));
    EXPECT_EQ(read_file_bytes(dir.file("old.cgf")), text_bytes("an older archive"));
}

}  // namespace
