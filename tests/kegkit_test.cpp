// kegkit end to end: its files and messages against the classic programs'
// on the same inputs, byte for byte in BMP and pixel for pixel in PNG (as
// ImageMagick reads them), for every revision and for one and two threads.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <regex>
#include <thread>

#include "bmp.h"
#include "test_support.h"

namespace {

const ArchiveLayout *const LAYOUTS[] = {&LAYOUT_2_11, &LAYOUT_2_12, &LAYOUT_2_13};

std::string revision_of(const ArchiveLayout &l) {
    return &l == &LAYOUT_2_11 ? "2.11" : &l == &LAYOUT_2_12 ? "2.12" : "2.13";
}

// Plain pictures of every kind, a folder in a name, a junk entry, two
// masks, a bogus and a bad picture, a truncated entry, an unsafe name, and
// two entries that give one output name (the later wins).
std::vector<TestEntry> rich_entries(const ArchiveLayout &l) {
    Bytes bogus = make_bmp24(2, 2, 1), bad = make_bmp24(4, 4, 2);
    put_le32(bogus, 2, 54);
    put_le32(bad, 18, 0x7FFFFFF);
    std::vector<TestEntry> e = {
        {"bg01.bmp", false, 0, 0, make_bmp24(33, 17, 1), PACK_LZSS},
        {"cg\\bg02.bmp", false, 0, 0, make_bmp24(8, 8, 2), PACK_RLE},
        {"grey.bmp", false, 0, 0, make_mask8(9, 5, 3), PACK_LZSS},
        {"alpha.bmp", false, 0, 0, make_bmp32(6, 7, 4), PACK_LZSS},
        {"junk", false, 0, 0, Bytes{'B', 'M', 1, 2, 3}, PACK_LZSS_LITERALS},
        {"../evil.bmp", false, 0, 0, make_bmp24(2, 2, 5), PACK_LZSS},
        {"m1", true, -8, 16, make_mask8(12, 10, 6), PACK_RLE},
        {"ev01.bmp", false, 0, 0, make_bmp24(12, 10, 7), PACK_LZSS},
        {"cg\\ev02.bmp", false, 0, 0, make_bmp24(5, 3, 8), PACK_RLE},
        {"bogus.bmp", false, 0, 0, bogus, PACK_LZSS},
        {"bad.bmp", false, 0, 0, bad, PACK_LZSS},
        {"m2", true, 3, 4, make_mask8(6, 6, 9), PACK_LZSS},
        {"ev01.bmp", false, 0, 0, make_bmp24(6, 6, 10), PACK_LZSS},
        {"big.bmp", false, 0, 0, make_bmp24(700, 500, 15), PACK_RLE},  // megabyte buffers on the workers
        {"dup.bmp", false, 0, 0, make_bmp24(6, 6, 11), PACK_LZSS},
        {"dup.bmp", false, 0, 0, make_bmp24(6, 6, 12), PACK_RLE},
    };
    if (l.stored_bit) e.push_back({"st.bmp", false, 0, 0, make_bmp24(5, 5, 13), PACK_STORED});
    return e;
}

// An archive with its last entry cut short.
Bytes rich_archive(const ArchiveLayout &l) {
    std::vector<TestEntry> e = rich_entries(l);
    e.push_back({"cut.bmp", false, 0, 0, make_bmp24(40, 40, 14), PACK_LZSS});
    Bytes a = build_archive(l, e);
    put_le32(a, 4 + (e.size() - 1) * l.entry_size + l.offset_field, static_cast<uint32_t>(a.size() - 3));
    return a;
}

class KegkitExtract : public testing::TestWithParam<const ArchiveLayout *> {
protected:
    const ArchiveLayout &layout() const { return *GetParam(); }
    // kegsplit's files and messages, in dir/ks (which gets the "cg" folder kegsplit needs).
    RunResult kegsplit_reference(const Bytes &archive) {
        write_file_bytes(dir.file("a.cgf"), archive);
        mkdir(dir.file("ks").c_str(), 0700);
        mkdir(dir.file("ks/cg").c_str(), 0700);
        return run_program(kegsplit_path(layout()), {"../a.cgf"}, dir.file("ks"));
    }
    RunResult kegkit(const std::vector<std::string> &args) { return run_program(kegkit_path(), args, dir.path); }
    TempDir dir;
};

TEST_P(KegkitExtract, SameFilesAndMessagesAsKegsplitOnAnyNumberOfThreads) {
    const Bytes archive = rich_archive(layout());
    const RunResult ref = kegsplit_reference(archive);
    ASSERT_EQ(ref.status, 0);
    const std::vector<std::string> files = list_tree(dir.file("ks"));
    ASSERT_GE(files.size(), 9u);
    EXPECT_NE(ref.err.find("../evil.bmp: unsafe entry name (skipped)\n"), std::string::npos);
    for (const char *jobs : {"1", "2", "3"}) {
        const std::string out = std::string("out") + jobs;
        const RunResult r = kegkit({"extract", "-r", revision_of(layout()), "-j", jobs, "-o", out, "a.cgf"});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, ref.err);
        EXPECT_EQ(r.out, "");
        ASSERT_EQ(list_tree(dir.file(out)), files) << jobs;
        for (const std::string &f : files) EXPECT_EQ(read_file_bytes(dir.file(out + "/" + f)), read_file_bytes(dir.file("ks/" + f))) << f;
    }
    // Found by itself when every entry is whole; without -o, into a folder named after the archive.
    write_file_bytes(dir.file("whole.cgf"), build_archive(layout(), rich_entries(layout())));
    const RunResult r = kegkit({"extract", "-v", "whole.cgf"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err.rfind("whole.cgf: revision " + revision_of(layout()) + "\n", 0), 0u) << r.err;
    EXPECT_EQ(list_tree(dir.file("whole")), files);
}

TEST_P(KegkitExtract, PngHoldsTheSamePixels) {
    if (!have_imagemagick()) GTEST_SKIP() << "ImageMagick's convert is not installed";
    const RunResult ref = kegsplit_reference(rich_archive(layout()));
    const RunResult r = kegkit({"extract", "--png", "-r", revision_of(layout()), "-o", "png", "a.cgf"});
    EXPECT_EQ(r.status, 0) << r.err;
    // kegsplit's lines with .png names, and a note for the entry that is no picture.
    std::string expect = ref.err;
    for (const std::string name : {"bogus+x-8y16", "bad+x-8y16"}) {
        const size_t at = expect.find(name + ".bmp");
        if (at != std::string::npos) expect.replace(at + name.size(), 4, ".png");
    }
    const std::string note = "junk.bmp: written as BMP, not PNG (";
    EXPECT_NE(r.err.find(note), std::string::npos) << r.err;
    std::string without_note = r.err;
    without_note.erase(without_note.find(note), without_note.find('\n', without_note.find(note)) + 1 - without_note.find(note));
    EXPECT_EQ(without_note, expect);

    for (const std::string &bmp : list_tree(dir.file("ks"))) {
        const std::string stem = bmp.substr(0, bmp.size() - 4);
        if (stem == "junk") {
            EXPECT_EQ(read_file_bytes(dir.file("png/junk.bmp")), read_file_bytes(dir.file("ks/junk.bmp")));
            continue;
        }
        const Bytes got = imagemagick_rgba(dir.file("png/" + stem + ".png"));
        ASSERT_FALSE(got.empty()) << stem;
        EXPECT_EQ(got, bmp_rgba(dir.file("ks/" + bmp))) << stem;
    }
}

// A download cut short and an entry that is no BMP: no layout fits, and the
// one that reads the most entries is taken, with kegsplit's lines for the rest.
TEST_P(KegkitExtract, DamagedArchiveIsReadAsTheLayoutThatReadsMostOfIt) {
    std::vector<TestEntry> e = rich_entries(layout());
    e.insert(e.begin() + 1, {"notbmp", false, 0, 0, Bytes{'X', 'Y', 1, 2, 3, 4}, PACK_LZSS_LITERALS});
    Bytes archive = build_archive(layout(), e);
    archive.resize(archive.size() - 10);  // the first entry's data comes last in the file
    write_file_bytes(dir.file("a.cgf"), archive);
    const RunResult given = kegkit({"extract", "--png", "-r", revision_of(layout()), "-o", "given", "a.cgf"});
    const RunResult found = kegkit({"extract", "--png", "-v", "-o", "found", "a.cgf"});
    EXPECT_EQ(found.status, 0) << found.err;
    EXPECT_NE(given.err.find("bg01.bmp: truncated entry (skipped)\n"), std::string::npos) << given.err;
    EXPECT_EQ(found.err, "a.cgf: revision " + revision_of(layout()) + " (" + std::to_string(e.size() - 2) + " of its " +
                             std::to_string(e.size()) + " entries readable)\n" + given.err);
    const std::vector<std::string> files = list_tree(dir.file("given"));
    EXPECT_GE(files.size(), 9u);
    ASSERT_EQ(list_tree(dir.file("found")), files);
    for (const std::string &f : files)
        EXPECT_EQ(read_file_bytes(dir.file("found/" + f)), read_file_bytes(dir.file("given/" + f))) << f;
}

INSTANTIATE_TEST_SUITE_P(AllRevisions, KegkitExtract, testing::ValuesIn(LAYOUTS),
                         [](const testing::TestParamInfo<const ArchiveLayout *> &info) {
                             std::string r = revision_of(*info.param);
                             r.erase(r.find('.'), 1);
                             return "v" + r;
                         });

class Kegkit : public testing::Test {
protected:
    RunResult kegkit(const std::vector<std::string> &args) { return run_program(kegkit_path(), args, dir.path); }
    void put(const std::string &name, const Bytes &data) { write_file_bytes(dir.file(name), data); }
    Bytes get(const std::string &name) { return read_file_bytes(dir.file(name)); }
    TempDir dir;
};

TEST_F(Kegkit, ExistingFilesAreKeptUnlessOverwrite) {
    const Bytes bg = make_bmp24(4, 4, 1), ev = make_bmp24(4, 4, 2);
    put("a.cgf", build_archive(LAYOUT_2_13, {{"bg.bmp", false, 0, 0, bg, PACK_LZSS},
                                             {"ev.bmp", false, 0, 0, ev, PACK_LZSS},
                                             {"fg.bmp", false, 0, 0, ev, PACK_LZSS}}));
    mkdir(dir.file("x").c_str(), 0700);
    const Bytes edited = {'m', 'i', 'n', 'e'};
    put("x/bg.bmp", edited);
    put("x/ev.bmp", edited);
    RunResult r = kegkit({"extract", "-o", "x", "a.cgf"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "kept 2 existing files (--overwrite replaces them)\n");
    EXPECT_EQ(get("x/bg.bmp"), edited);
    EXPECT_EQ(get("x/fg.bmp"), ev);
    r = kegkit({"extract", "-o", "x", "--overwrite", "a.cgf"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(get("x/bg.bmp"), bg);
    EXPECT_EQ(list_tree(dir.file("x")), (std::vector<std::string>{"bg.bmp", "ev.bmp", "fg.bmp"}));
}

TEST_F(Kegkit, OnlyWritesTheEntriesThatMatchAndReadsTheirMasks) {
    const Bytes mask = make_mask8(4, 4, 1), pic = make_bmp24(4, 4, 2);
    put("a.cgf", build_archive(LAYOUT_2_12, {{"bg.bmp", false, 0, 0, pic, PACK_LZSS},
                                             {"m", true, 1, 2, mask, PACK_LZSS},
                                             {"cg\\ev1.bmp", false, 0, 0, pic, PACK_LZSS},
                                             {"ev2.bmp", false, 0, 0, pic, PACK_LZSS}}));
    // A pattern that matches nothing is said, after the entries that the others matched.
    const RunResult r = kegkit({"extract", "--only", "cg/*", "--only", "nothing", "a.cgf"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "kegkit: --only nothing matched no entry\n");
    EXPECT_EQ(list_tree(dir.file("a")), std::vector<std::string>{"cg/ev1+x1y2.bmp"});
    EXPECT_EQ(get("a/cg/ev1+x1y2.bmp"), expected_composed(pic, mask));
}

TEST_F(Kegkit, RevisionIsFoundOrAskedFor) {
    put("junk.cgf", Bytes{1, 0, 0, 0, 9, 9});
    put("empty.cgf", Bytes{0, 0, 0, 0});
    put("good.cgf", build_archive(LAYOUT_2_12, {{"bg.bmp", false, 0, 0, make_bmp24(2, 2, 1), PACK_LZSS}}));
    RunResult r = kegkit({"extract", "junk.cgf", "empty.cgf", "missing.cgf", "good.cgf"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "kegkit: junk.cgf fits none of the revisions 2.11, 2.12 and 2.13; give one with -r\n"
              "kegkit: empty.cgf fits revisions 2.11, 2.12 and 2.13; choose one with -r\n"
              "kegkit: cannot open missing.cgf (" + open_error_text(ENOENT) + ")\n");
    EXPECT_EQ(list_tree(dir.file("good")), std::vector<std::string>{"bg.bmp"});
    r = kegkit({"extract", "-r", "2.11", "empty.cgf"});
    EXPECT_EQ(r.status, 0);
    put("short.cgf", Bytes{5, 0, 0, 0, 1, 2, 3});
    r = kegkit({"extract", "-r", "2.11", "-o", "t", "short.cgf"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "kegkit: short.cgf: truncated entry table\n");
}

// Layouts that read equally many entries of a damaged archive: kegkit asks.
TEST_F(Kegkit, DamagedArchiveThatTwoLayoutsReadAlikeIsAskedAbout) {
    // One entry framed as 2.11 frames it, one as 2.13 does; each reads one.
    const Bytes a = build_archive(LAYOUT_2_11, {{"a.bmp", false, 0, 0, make_bmp24(3, 3, 1), PACK_LZSS}});
    const Bytes b = build_archive(LAYOUT_2_13, {{"b.bmp", false, 0, 0, make_bmp24(3, 3, 2), PACK_STORED}});
    Bytes both(4 + 2 * 20, 0);
    put_le32(both, 0, 2);
    std::copy(a.begin() + 4, a.begin() + 24, both.begin() + 4);
    std::copy(b.begin() + 4, b.begin() + 24, both.begin() + 24);
    put_le32(both, 20, static_cast<uint32_t>(both.size()));
    put_le32(both, 40, static_cast<uint32_t>(both.size() + a.size() - 24));
    both.insert(both.end(), a.begin() + 24, a.end());
    both.insert(both.end(), b.begin() + 24, b.end());
    put("two.cgf", both);
    RunResult r = kegkit({"extract", "two.cgf"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "kegkit: two.cgf: revisions 2.11 and 2.13 each read 1 of its 2 entries; choose one with -r\n");
    EXPECT_FALSE(file_exists(dir.file("two")));
    r = kegkit({"extract", "-r", "2.13", "two.cgf"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "a.bmp: truncated entry (skipped)\n");
    EXPECT_EQ(get("two/b.bmp"), make_bmp24(3, 3, 2));
}

TEST_F(Kegkit, CommandLine) {
    const std::string folder_refusal = testing_windows_build()
                                           ? "kegkit: cannot open . (" + open_error_text(EISDIR) + ")\n"
                                           : "kegkit: .: not a file\n";
    const struct {
        std::vector<std::string> args;
        int status;
        std::string err;
    } cases[] = {
        {{"extract"}, 2, "kegkit: extract needs an archive (see kegkit extract --help)\n"},
        {{"extract", "-x", "a.cgf"}, 2, "kegkit: unknown option -x (see kegkit extract --help)\n"},
        {{"extract", "-r", "2.14", "a.cgf"}, 2, "kegkit: unknown revision \"2.14\" (2.11, 2.12 or 2.13) (see kegkit extract --help)\n"},
        {{"extract", "-j", "0", "a.cgf"}, 2, "kegkit: -j takes a number of threads from 1 to 256 (see kegkit extract --help)\n"},
        {{"extract", "-o"}, 2, "kegkit: -o needs a value (see kegkit extract --help)\n"},
        {{"merge", "a", "b"}, 2, "kegkit: merge takes one event table (see kegkit merge --help)\n"},
        {{"extract", "--png", "--png-level", "13", "a.cgf"}, 2, "kegkit: --png-level takes a level from 0 to 12 (see kegkit extract --help)\n"},
        {{"merge", "--png", "--png-level", "-1", "t"}, 2, "kegkit: --png-level takes a level from 0 to 12 (see kegkit merge --help)\n"},
        {{"convert", "--png-level", "x", "a"}, 2, "kegkit: --png-level takes a level from 0 to 12 (see kegkit convert --help)\n"},
        {{"extract", "--png-level", "1", "a.cgf"}, 2, "kegkit: --png-level is for PNG files: add --png (see kegkit extract --help)\n"},
        {{"merge", "--png-level", "1", "t"}, 2, "kegkit: --png-level is for PNG files: add --png (see kegkit merge --help)\n"},
        {{"convert", "--to", "bmp", "--png-level", "1", "a"}, 2, "kegkit: --png-level is for PNG files, not --to bmp (see kegkit convert --help)\n"},
        {{"convert", "--to", "gif", "x"}, 2, "kegkit: --to takes png or bmp (see kegkit convert --help)\n"},
        {{"list"}, 2, "kegkit: list needs an archive (see kegkit list --help)\n"},
        {{"--bogus"}, 2, "kegkit: unknown option --bogus (see kegkit --help)\n"},
        {{"extrct", "a.cgf"}, 2, "kegkit: unknown command \"extrct\" (see kegkit --help)\n"},
        {{"merge", "missing.bin"}, 1, "kegkit: cannot open missing.bin (" + open_error_text(ENOENT) + ")\n"},
        // A folder as the archive or the table (Windows does not open one as a file).
        {{"extract", "."}, 1, folder_refusal},
        {{"merge", "."}, 1, folder_refusal},
        {{"convert", "."}, 1, "kegkit: cannot read . (a folder)\n"},
    };
    for (const auto &c : cases) {
        const RunResult r = kegkit(c.args);
        EXPECT_EQ(r.status, c.status) << c.err;
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.out, "");
    }
    for (const char *command : {"extract", "merge", "list", "convert"}) {
        const RunResult r = kegkit({command, "--help"});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out.rfind(std::string("usage: kegkit ") + command, 0), 0u) << r.out;
    }
    RunResult r = kegkit({});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err.rfind("usage: kegkit", 0), 0u);
    // The project's version, and the commit where the build has one (the
    // programs under test may come from another build of another commit).
    const std::regex version_line("kegkit " KEGKIT_PROJECT_VERSION R"(( \(commit [0-9a-f]{12}\))?\n)");
    for (const char *option : {"--version", "-V"}) {
        r = kegkit({option});
        EXPECT_EQ(r.status, 0);
        EXPECT_TRUE(std::regex_match(r.out, version_line)) << r.out;
        EXPECT_EQ(r.err, "");
    }
    // "--" ends the options: a file named like one is an archive.
    put("-r.cgf", build_archive(LAYOUT_2_13, {{"bg.bmp", false, 0, 0, make_bmp24(2, 2, 1), PACK_LZSS}}));
    r = kegkit({"extract", "--", "-r.cgf"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(list_tree(dir.file("-r")), std::vector<std::string>{"bg.bmp"});
}

TEST_F(Kegkit, DroppedArchivesGoBesideThemselvesAsPng) {
    mkdir(dir.file("games").c_str(), 0700);
    put("games/one.cgf", build_archive(LAYOUT_2_11, {{"bg.bmp", false, 0, 0, make_bmp24(2, 2, 1), PACK_LZSS}}));
    put("games/two.cgf", build_archive(LAYOUT_2_12, {{"cg\\ev.bmp", false, 0, 0, make_bmp24(2, 2, 2), PACK_RLE}}));
    const RunResult r = kegkit({dir.file("games/one.cgf"), "games/two.cgf"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(list_tree(dir.file("games")),
              (std::vector<std::string>{"one.cgf", "one/bg.png", "two.cgf", "two/cg/ev.png"}));
}

TEST_F(Kegkit, ListsSeveralArchives) {
    put("a.cgf", build_archive(LAYOUT_2_13, {{"bg.bmp", false, 0, 0, make_bmp24(2, 2, 1), PACK_STORED}}));
    put("b.cgf", build_archive(LAYOUT_2_12, {{"m", true, -1, 5, make_mask8(2, 2, 1), PACK_RLE}}));
    const RunResult r = kegkit({"list", "a.cgf", "b.cgf"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("a.cgf:\nfits: kegsplit-2.13\n", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("\nb.cgf:\nfits: kegsplit-2.12\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("+x-1y5"), std::string::npos);
}

TEST_F(Kegkit, ConvertsBothWaysWithoutLoss) {
    const Bytes rgb = make_bmp24(7, 5, 1), rgba = make_bmp32(6, 4, 2), grey = make_mask8(5, 3, 3);
    put("rgb.bmp", rgb);
    put("rgba.bmp", rgba);
    put("grey.bmp", grey);
    put("junk.bmp", Bytes{'B', 'M', 0});
    RunResult r = kegkit({"convert", "-o", "png", "rgb.bmp", "rgba.bmp", "grey.bmp", "junk.bmp"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("kegkit: junk.bmp: ", 0), 0u) << r.err;
    EXPECT_EQ(list_tree(dir.file("png")), (std::vector<std::string>{"grey.png", "rgb.png", "rgba.png"}));
    r = kegkit({"convert", "--to", "bmp", "-o", "back", "png/rgb.png", "png/rgba.png", "png/grey.png", "rgb.bmp"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "rgb.bmp: a BMP file already (passed over)\n");
    // The kit's own writer made these: back again, they are the same files.
    EXPECT_EQ(get("back/rgb.bmp"), rgb);
    EXPECT_EQ(get("back/rgba.bmp"), rgba);
    Bytes grey_unpadded = grey;  // the fixture's row padding is not zero; the writer's is
    for (size_t row = 0; row < 3; ++row) std::fill_n(grey_unpadded.begin() + 1078 + row * 8 + 5, 3, 0);
    EXPECT_EQ(get("back/grey.bmp"), grey_unpadded);
    r = kegkit({"convert", "-o", "back", "png/rgb.png"});
    EXPECT_EQ(r.err, "kept 1 existing file (--overwrite replaces them)\n");
    // Two files of one name into one folder: the first one's picture stays, the second is refused.
    mkdir(dir.file("two").c_str(), 0700);
    put("two/rgb.bmp", rgba);
    r = kegkit({"convert", "--overwrite", "-o", "one", "rgb.bmp", "two/rgb.bmp"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "kegkit: two/rgb.bmp: one/rgb.png is made from rgb.bmp in this run (not converted)\n");
    EXPECT_EQ(get("one/rgb.png"), get("png/rgb.png"));
    // Every level gives the same pixels: 0 stores them, 12 packs them tightest.
    const Bytes pattern = make_bmp24(64, 48, 4);
    put("pattern.bmp", pattern);
    std::vector<size_t> sizes;
    for (const std::string level : {"0", "12"}) {
        r = kegkit({"convert", "--png-level", level, "-o", level, "pattern.bmp"});
        EXPECT_EQ(r.status, 0) << r.err;
        sizes.push_back(get(level + "/pattern.png").size());
        r = kegkit({"convert", "-o", level + "/back", level + "/pattern.png"});
        EXPECT_EQ(get(level + "/back/pattern.bmp"), pattern) << level;
    }
    EXPECT_GT(sizes[0], 64u * 48 * 3);
    EXPECT_LT(sizes[1], sizes[0]);
}

// Only a picture this kit reads is passed over as being in the target format
// already; anything else is refused by name, whichever way --to points.
TEST_F(Kegkit, ConvertRefusesWhatIsNoPicture) {
    put("empty.bmp", {});
    put("text.png", Bytes{'h', 'e', 'l', 'l', 'o'});
    Bytes cut_png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13};
    put("cut.png", cut_png);
    Bytes rle = make_bmp24(4, 4, 1);
    put_le32(rle, 30, 1);  // run-length compressed: a BMP file the reader does not take
    put("rle.bmp", rle);
    for (const char *to : {"bmp", "png"}) {
        const RunResult r = kegkit({"convert", "--to", to, "empty.bmp", "text.png", "cut.png", "rle.bmp"});
        EXPECT_EQ(r.status, 1);
        // The PNG library's own reason for the cut file stands between the name and the note.
        const size_t cut = r.err.find("kegkit: cut.png: "), cut_end = r.err.find(" (not converted)\n", cut);
        ASSERT_NE(cut_end, std::string::npos) << r.err;
        EXPECT_EQ(r.err.substr(0, cut) + r.err.substr(cut_end),
                  "kegkit: empty.bmp: empty file (not converted)\n"
                  "kegkit: text.png: neither a PNG nor a BMP file (not converted)\n"
                  " (not converted)\n"
                  "kegkit: rle.bmp: compressed BMP (not converted)\n")
            << to;
    }
    EXPECT_EQ(list_tree(dir.path), (std::vector<std::string>{"cut.png", "empty.bmp", "rle.bmp", "text.png"}));
}

// A run stopped part-way: every file under its final name is whole, and a
// run that was asked to stop removes its temporary files. The run is held
// in the middle by a standard error that nobody reads: its skip lines fill
// the pipe.
std::string numbered(const char *prefix, int n) {
    std::string name = prefix;  // built by appending: GCC 12 warns falsely on "p" + std::to_string(n)
    name.append(std::to_string(n));
    return name;
}

// Starts kegkit in `folder` with standard error on `error_fd`; its process id.
pid_t start_kegkit(const std::string &folder, const std::vector<std::string> &args, int error_fd) {
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(error_fd, 2);
        if (chdir(folder.c_str()) != 0) _exit(120);
        std::vector<std::string> words = program_command(kegkit_path());
        words.insert(words.end(), args.begin(), args.end());
        std::vector<char *> argv;
        for (std::string &w : words) argv.push_back(w.data());
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(121);
    }
    return pid;
}

TEST_F(Kegkit, InterruptedRunLeavesNoPartialFile) {
    if (testing_windows_build()) GTEST_SKIP() << "POSIX signals";
    std::vector<TestEntry> entries;
    for (int i = 0; i < 10; ++i)
        entries.push_back({numbered("p", i), false, 0, 0, make_bmp24(200, 100, i), PACK_LZSS_LITERALS});
    for (int i = 0; i < 3000; ++i) entries.push_back({"../skipped-name", false, 0, 0, Bytes{'B', 'M'}, PACK_LZSS});
    for (int i = 10; i < 20; ++i)
        entries.push_back({numbered("p", i), false, 0, 0, make_bmp24(200, 100, i), PACK_LZSS_LITERALS});
    put("a.cgf", build_archive(LAYOUT_2_13, entries));
    for (const int sig : {SIGTERM, SIGINT, SIGKILL}) {
        const std::string out = numbered("out", sig);
        int unread[2];
        ASSERT_EQ(pipe(unread), 0);
        const pid_t pid = start_kegkit(dir.path, {"extract", "-j", "2", "-o", out, "a.cgf"}, unread[1]);
        close(unread[1]);
        for (int wait = 0; wait < 5000 && !file_exists(dir.file(out + "/p9.bmp")); ++wait)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        kill(pid, sig);
        int status = 0;
        waitpid(pid, &status, 0);
        close(unread[0]);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the run ended before it was stopped";
        EXPECT_EQ(WTERMSIG(status), sig);
        size_t whole = 0;
        for (const std::string &name : list_tree(dir.file(out))) {
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".tmp") == 0) {
                EXPECT_EQ(sig, SIGKILL) << "temporary file left: " << name;
                continue;
            }
            const int i = std::stoi(name.substr(1));
            EXPECT_EQ(get(out + "/" + name), entries[i < 10 ? i : i + 3000].data) << name;
            ++whole;
        }
        EXPECT_EQ(whole, 10u);
    }
}

// Stopped while both workers create and write files: a file created while
// the clean-up runs must not outlive it.
TEST_F(Kegkit, InterruptWhileWorkersWriteLeavesNoTemporaryFile) {
    if (testing_windows_build()) GTEST_SKIP() << "POSIX signals";
    std::vector<TestEntry> entries;
    for (int i = 0; i < 60; ++i) entries.push_back({numbered("p", i), false, 0, 0, make_bmp24(500, 400, i), PACK_STORED});
    put("a.cgf", build_archive(LAYOUT_2_13, entries));
    const int quiet = open("/dev/null", O_WRONLY);
    for (int round = 0; round < 6; ++round) {
        const int sig = round % 2 ? SIGINT : SIGTERM;
        const std::string out = numbered("out", round);
        const pid_t pid = start_kegkit(dir.path, {"extract", "-j", "2", "-o", out, "a.cgf"}, quiet);
        for (int wait = 0; wait < 5000 && !file_exists(dir.file(out + "/p" + std::to_string(round) + ".bmp")); ++wait)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        kill(pid, sig);
        int status = 0;
        waitpid(pid, &status, 0);
        if (!WIFSIGNALED(status)) continue;  // it was done before the signal came
        for (const std::string &name : list_tree(dir.file(out))) {
            ASSERT_NE(name.substr(name.size() - 4), ".tmp") << "temporary file left: " << name;
            EXPECT_EQ(get(out + "/" + name), entries[static_cast<size_t>(std::stoi(name.substr(1)))].data) << name;
        }
    }
    close(quiet);
}

TEST_F(Kegkit, FullDiskEndsTheRunWithNothingCutShort) {
    std::vector<TestEntry> entries = {{"small.bmp", false, 0, 0, make_bmp24(2, 2, 1), PACK_LZSS},
                                      {"big.bmp", false, 0, 0, make_bmp24(64, 64, 2), PACK_LZSS},
                                      {"after.bmp", false, 0, 0, make_bmp24(2, 2, 3), PACK_LZSS}};
    put("a.cgf", build_archive(LAYOUT_2_13, entries));
    const RunResult r = run_program(kegkit_path(), {"extract", "-o", "x", "a.cgf"}, dir.path, 0, 1000);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "kegkit: cannot write x/big.bmp (" + file_too_large_text() + ")\n");
    EXPECT_EQ(list_tree(dir.file("x")), std::vector<std::string>{"small.bmp"});
}

// kegkit merge against palimp on the same folder: the same files and
// messages, also where a later record reads an earlier one's output; and the
// same pixels from PNG inputs, or into PNG outputs.
TEST_F(Kegkit, MergeMatchesPalimp) {
    const Bytes base = make_bmp24(40, 30, 1), base32 = make_bmp32(40, 30, 2), delta = make_bmp32(12, 8, 3);
    const std::vector<TestEvent> events = {{"ev1", "B", "D"},  {"ev2", "B32", "D"}, {"ev3", "ev1", "D"},
                                           {"B", "B", "D2"},   {"ev4", "B", "D"},   {"ev5", "X", "D"},
                                           {"ev6", "B", "big"}, {"../ev7", "B", "D"}};
    for (const char *folder : {"p", "k1", "k2"}) {
        mkdir(dir.file(folder).c_str(), 0700);
        put(std::string(folder) + "/B.bmp", base);
        put(std::string(folder) + "/B32+x5y5.bmp", base32);
        put(std::string(folder) + "/D+x10y12.bmp", delta);
        put(std::string(folder) + "/D2+x0y0.bmp", delta);
        put(std::string(folder) + "/big.bmp", make_bmp32(50, 5, 1));
    }
    put("evinfo.bin", make_event_table(events));
    const RunResult ref = run_program(palimp_path(), {"../evinfo.bin", "-cleanup"}, dir.file("p"));
    ASSERT_EQ(ref.status, 0);
    EXPECT_NE(ref.err, "");
    const std::vector<std::string> files = list_tree(dir.file("p"));
    for (const char *jobs : {"1", "2"}) {
        const std::string k = std::string("k") + jobs;
        const RunResult r = run_program(kegkit_path(), {"merge", "--cleanup", "-j", jobs, "../evinfo.bin"}, dir.file(k));
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, ref.err);
        ASSERT_EQ(list_tree(dir.file(k)), files);
        for (const std::string &f : files) EXPECT_EQ(get(k + "/" + f), get("p/" + f)) << f;
    }
    // A mistyped input folder: one line, status 1, and no folder made for it.
    const RunResult typo = kegkit({"merge", "-i", "inn", "evinfo.bin"});
    EXPECT_EQ(typo.status, 1);
    EXPECT_EQ(typo.err, "kegkit: cannot list inn (" + open_error_text(ENOENT) + ")\n");
    EXPECT_FALSE(file_exists(dir.file("inn")));
    if (!have_imagemagick()) GTEST_SKIP() << "ImageMagick's convert is not installed";
    // The same pictures as PNG files, the events written as PNG: the same pixels.
    mkdir(dir.file("in").c_str(), 0700);
    const std::pair<std::string, Bytes> inputs[] = {{"B", base}, {"B32+x5y5", base32}, {"D+x10y12", delta},
                                                    {"D2+x0y0", delta}, {"big", make_bmp32(50, 5, 1)}};
    for (const auto &[name, bytes] : inputs) {
        put("in/" + name + ".bmp", bytes);
        const std::string command = "cd " + dir.file("in") + " && /usr/bin/convert " + name + ".bmp " + name +
                                    ".png 2>/dev/null && rm " + name + ".bmp";
        ASSERT_EQ(std::system(command.c_str()), 0) << name;
    }
    const RunResult r = kegkit({"merge", "-i", "in", "--png", "-j", "2", "evinfo.bin"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, ref.err);
    for (const std::string &f : files) {
        const std::string png = "in/" + f.substr(0, f.size() - 4) + ".png";
        if (f.rfind("ev", 0) == 0 || f == "B.bmp") {
            EXPECT_EQ(imagemagick_rgba(dir.file(png)), bmp_rgba(dir.file("p/" + f))) << png;
        }
    }
}

}  // namespace
