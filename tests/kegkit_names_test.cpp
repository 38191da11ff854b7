// kegkit end to end with entry and event names in the games' code pages:
// cp932, gbk, utf-8 and bytes that read as none of them. Files appear under
// the names as UTF-8 (the Windows programs under wine make UTF-16 names,
// which wine shows here as UTF-8), repack gives back the stored bytes, and
// the pictures are kegsplit's.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "archive_layout.h"
#include "test_support.h"

namespace {

const ArchiveLayout *const LAYOUTS[] = {&LAYOUT_2_11, &LAYOUT_2_12, &LAYOUT_2_13};

Bytes text_of(const std::string &text) { return Bytes(text.begin(), text.end()); }

std::string revision_of(const ArchiveLayout &l) {
    return &l == &LAYOUT_2_11 ? "2.11" : &l == &LAYOUT_2_12 ? "2.12" : "2.13";
}

// The names of an archive's picture entries, sorted (repack names its masks itself).
std::vector<std::string> picture_names(const Bytes &archive, const ArchiveLayout &l) {
    std::vector<std::string> names;
    for (uint32_t i = 0; i < get_le32(archive, 0); ++i) {
        const ArchiveEntry e = parse_archive_entry(archive.data() + 4, i, l);
        if (!e.is_mask) names.push_back(e.name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// One archive's names, and the files extraction makes of them.
struct NameSet {
    const char *encoding;
    std::vector<std::pair<std::string, std::string>> pictures;  // stored name, file (before a mask)
    std::string composed_stored, composed_file;                 // under a mask at (1, 2)
};

std::vector<NameSet> name_sets() {
    const bool windows = testing_windows_build();
    return {
        {"cp932",
         {{"\x95\x5C", "表.bmp"},
          {"\x83\x5C\x83\x74\x83\x67", "ソフト.bmp"},
          {"\xB1\xB2\xB3", "ｱｲｳ.bmp"},
          {"\x94\x77\x8C\x69\\\x8A\x47", "背景/絵.bmp"},
          {"\x81\x60\x87\x40", "～①.bmp"},
          {"bg01", "bg01.bmp"}},
         "\x8A\xE7",
         "顔+x1y2.bmp"},
        {"gbk",
         {{"\xC8\xCB\xCE\xEF", "人物.bmp"}, {"\xB3\xA1\xBE\xB0\\\xD1\xA1\xD4\xF1", "场景/选择.bmp"}, {"bg", "bg.bmp"}},
         "\xB1\xED",
         "表+x1y2.bmp"},
        {"utf-8", {{"日本語", "日本語.bmp"}, {"画像\\表", "画像/表.bmp"}, {"한국", "한국.bmp"}}, "顔", "顔+x1y2.bmp"},
        // A lone 0x5C is a separator in raw, whatever comes before it.
        {"raw",
         {{"a%\xFF", windows ? "a%25%FF.bmp" : "a%\xFF.bmp"},
          {"\x95\x5C\xFF", windows ? "%95/%FF.bmp" : "\x95/\xFF.bmp"},
          {"\x82\xA0", windows ? "%82%A0.bmp" : "\x82\xA0.bmp"}},
         "\x8A\xE7",
         windows ? "%8A%E7+x1y2.bmp" : "\x8A\xE7+x1y2.bmp"},
    };
}

class KegkitNames : public testing::Test {
protected:
    RunResult kegkit(const std::vector<std::string> &args) { return run_program(kegkit_path(), args, dir.path); }
    void put(const std::string &name, const Bytes &data) { write_file_bytes(dir.file(name), data); }
    Bytes get(const std::string &name) { return read_file_bytes(dir.file(name)); }
    TempDir dir;
};

TEST_F(KegkitNames, ExtractThenRepackGivesBackTheStoredNames) {
    const Bytes mask = make_mask8(5, 4, 9), face = make_bmp24(5, 4, 8);
    for (const ArchiveLayout *layout : LAYOUTS) {
        for (const NameSet &set : name_sets()) {
            SCOPED_TRACE(revision_of(*layout) + " " + set.encoding);
            std::vector<TestEntry> entries;
            std::vector<std::string> files;
            for (size_t i = 0; i < set.pictures.size(); ++i) {
                entries.push_back({set.pictures[i].first, false, 0, 0, make_bmp24(3 + int(i), 2, uint32_t(i)),
                                   i % 2 ? PACK_RLE : PACK_LZSS});
                files.push_back(set.pictures[i].second);
            }
            entries.push_back({"m", true, 1, 2, mask, PACK_LZSS});
            entries.push_back({set.composed_stored, false, 0, 0, face, PACK_LZSS});
            files.push_back(set.composed_file);
            std::sort(files.begin(), files.end());
            const Bytes archive = build_archive(*layout, entries);
            put("a.cgf", archive);
            std::filesystem::remove_all(dir.file("x"));
            const bool raw = std::string(set.encoding) == "raw";

            RunResult r = kegkit({"extract", "-r", revision_of(*layout), "-o", "x", "a.cgf"});
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_EQ(r.err, raw ? "a.cgf: names read as none of utf-8, cp932 and gbk (kept raw)\n" : "");
            ASSERT_EQ(list_tree(dir.file("x")), files);
            for (size_t i = 0; i < set.pictures.size(); ++i)
                EXPECT_EQ(get("x/" + set.pictures[i].second), entries[i].data) << set.pictures[i].second;
            EXPECT_EQ(get("x/" + set.composed_file), expected_composed(face, mask));

            // Auto writes cp932 first, and names it found no encoding for as they were.
            std::vector<std::vector<std::string>> repacks = {{"--names", set.encoding}};
            if (std::string(set.encoding) == "cp932" || raw) repacks.push_back({});
            for (const std::vector<std::string> &names : repacks) {
                std::vector<std::string> args = {"repack", "-r", revision_of(*layout), "-o", "b.cgf"};
                args.insert(args.end(), names.begin(), names.end());
                args.push_back("x");
                r = kegkit(args);
                ASSERT_EQ(r.status, 0) << r.err;
                EXPECT_EQ(r.err, "kegkit: names written in " + std::string(set.encoding) +
                                     (names.empty() ? " (--names chooses another)\n" : "\n"));
                EXPECT_EQ(picture_names(get("b.cgf"), *layout), picture_names(archive, *layout));
            }
        }
    }
}

TEST_F(KegkitNames, ListShowsNamesAndTheirBytes) {
    put("a.cgf",
        build_archive(LAYOUT_2_12, {{"bg01", false, 0, 0, make_bmp24(2, 2, 1), PACK_LZSS},
                                    {"\x94\x77\x8C\x69\\\x95\x5C", false, 0, 0, make_bmp24(2, 2, 2), PACK_LZSS}}));
    RunResult r = kegkit({"list", "a.cgf"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    // Padded to the name column by the columns the name takes (背景\表: seven).
    EXPECT_NE(r.out.find("\n    1  背景\\表" + std::string(21, ' ') + "      "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\n    0  bg01 "), std::string::npos) << r.out;
    r = kegkit({"list", "-v", "a.cgf"});
    EXPECT_EQ(r.err, "a.cgf: names read as cp932\n");
    EXPECT_NE(r.out.find("  [94 77 8C 69 5C 95 5C]\n"), std::string::npos) << r.out;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '['), 1);  // none beside an ASCII name
    r = kegkit({"list", "--names", "utf-8", "a.cgf"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "kegkit: a.cgf: entry name \"%94w%8Ci\\%95\\\" does not read as utf-8 (--names auto or raw "
              "reads it)\n");
}

// The event table's names are read as the archive's are: merge finds the
// pictures that extract wrote under their decoded names.
TEST_F(KegkitNames, MergeFindsPicturesByDecodedNames) {
    const Bytes base = make_bmp24(20, 10, 1), mask = make_mask8(6, 4, 2), delta = make_bmp24(6, 4, 3);
    put("a.cgf", build_archive(LAYOUT_2_13, {{"\x94\x77\x8C\x69", false, 0, 0, base, PACK_LZSS},
                                             {"m", true, 3, 2, mask, PACK_RLE},
                                             {"\x8A\xE7", false, 0, 0, delta, PACK_LZSS}}));
    Bytes table = make_event_table({{"\x83\x43\x83\x78\x83\x93\x83\x67", "\x94\x77\x8C\x69", "\x8A\xE7"}});
    put("evinfo.bin", table);
    RunResult r = kegkit({"extract", "-v", "-o", "x", "a.cgf"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "a.cgf: revision 2.13\na.cgf: names read as cp932\n");
    r = kegkit({"merge", "-i", "x", "evinfo.bin"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(get("x/イベント.bmp"), reference_merge(base, expected_composed(delta, mask), 3, 2));

    r = kegkit({"events", "print", "evinfo.bin"});
    EXPECT_EQ(r.out, "イベント 背景 顔\n");
    put("events.txt", text_of("イベント 背景 顔\n"));
    r = kegkit({"events", "write", "-o", "again.bin", "events.txt"});
    EXPECT_EQ(r.err, "kegkit: names written in cp932 (--names chooses another)\n");
    const Bytes again = get("again.bin");
    ASSERT_EQ(again.size(), table.size());
    EXPECT_TRUE(std::equal(again.begin(), again.begin() + 4 + 48, table.begin()));
    r = kegkit({"events", "write", "--names", "utf-8", "-o", "utf8.bin", "events.txt"});
    EXPECT_EQ(r.err, "kegkit: names written in utf-8\n");
    EXPECT_EQ(get("utf8.bin")[4], 0xE3);
}

// A name that the encoding cannot hold, or that does not fit once encoded,
// is refused with one line, and nothing is written.
TEST_F(KegkitNames, NamesThatCannotBeStoredAreRefused) {
    for (const char *folder : {"x", "y", "z"}) mkdir(dir.file(folder).c_str(), 0700);
    put("x/한국.bmp", make_bmp24(2, 2, 1));
    put("y/日本語日本語日本.bmp", make_bmp24(2, 2, 1));  // 16 bytes in cp932
    put("z/日本語日本語日.bmp", make_bmp24(2, 2, 1));    // 21 bytes in UTF-8, 14 in cp932
    RunResult r = kegkit({"repack", "--names", "cp932", "-o", "out.cgf", "x"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "kegkit: x/한국.bmp: entry name \"한국\" cannot be written in cp932\n");
    r = kegkit({"repack", "-r", "2.13", "-o", "out.cgf", "y"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "kegkit: y/日本語日本語日本.bmp: entry name \"日本語日本語日本\" does not fit revision 2.13 (1 to 15 "
              "bytes; 16 in cp932)\n");
    put("list.txt", text_of("ev ¥ base\n"));
    r = kegkit({"events", "write", "--names", "cp932", "-o", "out.bin", "list.txt"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "kegkit: list.txt: line 1: \"¥\" cannot be written in cp932\n");
    put("list.txt", text_of("ev 日本語日本語日本 base\n"));
    r = kegkit({"events", "write", "-o", "out.bin", "list.txt"});
    EXPECT_EQ(r.err,
              "kegkit: list.txt: line 1: \"日本語日本語日本\" is longer than the 15 bytes a name holds (16 in "
              "cp932)\n");
    put("a.cgf", build_archive(LAYOUT_2_13, {{"\x95\x5C", false, 0, 0, make_bmp24(2, 2, 1), PACK_LZSS}}));
    r = kegkit({"extract", "--names", "utf-8", "-o", "out", "a.cgf"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "kegkit: a.cgf: entry name \"%95\\\" does not read as utf-8 (--names auto or raw reads it)\n");
    EXPECT_EQ(kegkit({"extract", "--names", "sjis", "a.cgf"}).err,
              "kegkit: unknown name encoding \"sjis\" (auto, cp932, gbk, utf-8 or raw) (see kegkit extract --help)\n");
    for (const char *written : {"out.cgf", "out.bin", "out"}) EXPECT_FALSE(file_exists(dir.file(written))) << written;
    r = kegkit({"repack", "-r", "2.13", "-o", "out.cgf", "z"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(picture_names(get("out.cgf"), LAYOUT_2_13),
              std::vector<std::string>{"\x93\xFA\x96\x7B\x8C\xEA\x93\xFA\x96\x7B\x8C\xEA\x93\xFA"});
}

// Names that differ only in case are one file on Windows, the later entry's
// (as two entries of one name are); two files elsewhere. A name unsafe once
// decoded stays refused; --only matches decoded names, '?' one character.
TEST_F(KegkitNames, CollisionsUnsafeNamesAndFilters) {
    const Bytes first = make_bmp24(2, 2, 1), second = make_bmp24(3, 3, 2);
    put("a.cgf", build_archive(LAYOUT_2_13, {{"\x82\x60", false, 0, 0, first, PACK_LZSS},   // Ａ
                                             {"\x82\x81", false, 0, 0, second, PACK_LZSS},  // ａ
                                             {"Ev", false, 0, 0, first, PACK_LZSS},
                                             {"ev", false, 0, 0, second, PACK_LZSS},
                                             {"\x95\x5C\\..\\x", false, 0, 0, first, PACK_LZSS}}));
    RunResult r = kegkit({"extract", "--names", "cp932", "-o", "x", "a.cgf"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "表\\..\\x: unsafe entry name (skipped)\n");
    const std::vector<std::string> files = list_tree(dir.file("x"));
    if (testing_windows_build()) {
        ASSERT_EQ(files.size(), 2u);
        for (const std::string &f : files) EXPECT_EQ(get("x/" + f), second) << f;
    } else {
        EXPECT_EQ(files, (std::vector<std::string>{"Ev.bmp", "ev.bmp", "Ａ.bmp", "ａ.bmp"}));
    }

    put("b.cgf", build_archive(LAYOUT_2_13, {{"\x95\x5C", false, 0, 0, first, PACK_LZSS},
                                             {"\x95\x5C\x95\x5C", false, 0, 0, first, PACK_LZSS},
                                             {"\x94\x77\x8C\x69\\\x8A\x47", false, 0, 0, first, PACK_LZSS},
                                             {"ab", false, 0, 0, first, PACK_LZSS}}));
    r = kegkit({"extract", "--only", "?", "--only", "背景/*", "-o", "y", "b.cgf"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(list_tree(dir.file("y")), (std::vector<std::string>{"背景/絵.bmp", "表.bmp"}));
}

}  // namespace
