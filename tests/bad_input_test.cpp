// Hostile input, one table: each row makes its input in a fresh work folder,
// runs a real program there and checks the exit status, all of standard
// error, and that nothing appeared outside the work folder. In the
// sanitizer build the programs run under AddressSanitizer and
// LeakSanitizer, so a leak or a bad access fails the row's status too.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include <functional>
#include <regex>

#include "test_support.h"

namespace {

constexpr int FATAL = 255;

struct Row {
    std::string label;
    std::string program;                            // path of the program to run
    std::function<void(const std::string &)> make;  // writes the inputs into the work folder
    std::vector<std::string> args;
    int status;
    std::string err;  // exact, or an ECMAScript pattern when `pattern` is set
    bool pattern = false;
    uint64_t file_size = 0;                          // a disk that fills up at this size per file
    std::function<void(const std::string &)> check = nullptr;  // what the work folder holds afterwards
};

// ctest lists each row by its label, not as a dump of its bytes.
void PrintTo(const Row &row, std::ostream *os) { *os << row.label; }

// Any mix of the extractor's own skip lines, or its one fatal line.
const char *const KEGSPLIT_ANY =
    "((([^\\n]*: (truncated entry|corrupt entry|unsafe entry name|bogus image|bad image) \\(skipped\\)\\n)*)|"
    "a\\.cgf: truncated entry table\\n|Could not open [^\\n]*\\n)";

std::string k(const ArchiveLayout &l) { return kegsplit_path(l); }

Bytes small_archive(const ArchiveLayout &l) {
    return build_archive(l, {{"bg.bmp", false, 0, 0, make_bmp24(3, 2, 1), PACK_LZSS},
                             {"m", true, -1, 2, make_mask8(3, 2, 0), PACK_RLE},
                             {"ev.bmp", false, 0, 0, make_bmp24(3, 2, 2), PACK_LZSS}});
}

// One entry with its framing words set by hand.
Bytes raw_entry_archive(const ArchiveLayout &l, const std::string &name, uint32_t offset_word, uint32_t packed_size,
                        uint32_t flags, const Bytes &packed) {
    Bytes a(4 + l.entry_size, 0);
    put_le32(a, 0, 1);
    std::copy(name.begin(), name.begin() + std::min<size_t>(name.size(), l.name_size), a.begin() + 4);
    put_le32(a, 4 + l.offset_field, offset_word);
    Bytes frame;
    if (l.trailer_framing) {
        frame.assign(5, 0);
        put_le32(frame, 1, packed_size);
        frame.insert(frame.end(), packed.begin(), packed.end());
        Bytes trailer(20, 0);
        put_le32(trailer, 16, flags);
        frame.insert(frame.end(), trailer.begin(), trailer.end());
    } else {
        frame.assign(8, 0);
        put_le32(frame, 0, packed_size);
        put_le32(frame, 4, flags);
        frame.insert(frame.end(), packed.begin(), packed.end());
    }
    a.insert(a.end(), frame.begin(), frame.end());
    return a;
}

std::function<void(const std::string &)> archive(Bytes data) {
    return [data](const std::string &dir) { write_file_bytes(dir + "/a.cgf", data); };
}

Bytes with_le32(Bytes b, size_t at, uint32_t v) {
    put_le32(b, at, v);
    return b;
}

std::vector<Row> kegsplit_rows() {
    std::vector<Row> rows;
    const ArchiveLayout *layouts[] = {&LAYOUT_2_11, &LAYOUT_2_12, &LAYOUT_2_13};
    for (const ArchiveLayout *lp : layouts) {
        const ArchiveLayout &l = *lp;
        const std::string p = k(l);
        const Bytes good = small_archive(l);
        for (const ArchiveLayout *other : layouts)
            if (other != lp) rows.push_back({"other revision", p, archive(small_archive(*other)), {"a.cgf"}, -1, KEGSPLIT_ANY, true});

        const uint32_t len_mask = l.length_mask;
        const uint32_t at = 4 + l.entry_size;  // data right after the table
        rows.push_back({"count 0xFFFFFFFF", p, archive(with_le32(good, 0, 0xFFFFFFFFu)), {"a.cgf"}, FATAL,
                        "a.cgf: truncated entry table\n"});
        rows.push_back({"offset 0x7FFFFFFF", p, archive(raw_entry_archive(l, "x.bmp", 0x7FFFFFFFu, 1, 1, {0x01})), {"a.cgf"}, 0,
                        "x.bmp: truncated entry (skipped)\n"});
        rows.push_back({"mask offset 0xFFFFFFFF", p, archive(raw_entry_archive(l, "m", 0xFFFFFFFFu, 1, 1, {0x01})), {"a.cgf"}, 0,
                        "m: truncated entry (skipped)\n"});
        rows.push_back({"packed size 0xFFFFFFFF", p, archive(raw_entry_archive(l, "x.bmp", at, 0xFFFFFFFFu, 4, {1, 2})), {"a.cgf"},
                        0, "x.bmp: truncated entry (skipped)\n"});
        rows.push_back({"packed size 0xFFFFFFEC", p, archive(raw_entry_archive(l, "x.bmp", at, 0xFFFFFFECu, 4, {1, 2})), {"a.cgf"},
                        0, "x.bmp: truncated entry (skipped)\n"});
        rows.push_back({"decoded 2^30 from 2 bytes", p, archive(raw_entry_archive(l, "x.bmp", at, 2, ((1u << 30) & len_mask) | (len_mask == 0x3FFFFFFF ? 0x3FFFFFFF : 0), {0xFF, 1})),
                        {"a.cgf"}, 0, "x.bmp: corrupt entry (skipped)\n"});
        rows.push_back({"decoded 2^31-1 run-length", p, archive(raw_entry_archive(l, "x.bmp", at, 2, 0x80000000u | len_mask, {0xFF, 1})),
                        {"a.cgf"}, 0, "x.bmp: corrupt entry (skipped)\n"});
        rows.push_back({"decoded at the plausible limit", p,
                        archive(raw_entry_archive(l, "x.bmp", at, 2, 0x80000000u | (256 * 2 + 65536), {0xFF, 1})), {"a.cgf"}, 0, ""});
        const std::string full(l.name_size, 'n');
        rows.push_back({"name without NUL", p, archive(raw_entry_archive(l, full, at, 1, 1, {0x01})), {"a.cgf"}, 0, ""});
        for (const std::string &name : {std::string(".."), std::string("../out.bmp"), std::string("..\\out.bmp"),
                                        std::string("/tmp/out.bmp"), std::string("\\out.bmp"), std::string("C:\\out.bmp"),
                                        std::string("z:out")})
            rows.push_back({"unsafe " + name, p, archive(raw_entry_archive(l, name, at, 2, 1, {0x01, 0x41})), {"a.cgf"}, 0,
                            name + ": unsafe entry name (skipped)\n"});
    }
    return rows;
}

// Pictures and masks of odd shapes, behind a mask, for every revision.
std::vector<Row> shape_rows() {
    std::vector<Row> rows;
    const ArchiveLayout *layouts[] = {&LAYOUT_2_11, &LAYOUT_2_12, &LAYOUT_2_13};
    for (const ArchiveLayout *lp : layouts) {
        const Bytes mask = make_mask8(4, 4, 0);
        auto under_mask = [&](const Bytes &m, const Bytes &pic) {
            return archive(build_archive(*lp, {{"m", true, 0, 0, m, PACK_LZSS}, {"p.bmp", false, 0, 0, pic, PACK_LZSS}}));
        };
        Bytes pic = make_bmp24(4, 4, 1);
        const std::string p = k(*lp);
        rows.push_back({"huge width", p, under_mask(mask, with_le32(pic, 18, 0x7FFFFFFF)), {"a.cgf"}, 0, "p+x0y0.bmp: bad image (skipped)\n"});
        rows.push_back({"height -2^31", p, under_mask(mask, with_le32(pic, 22, 0x80000000u)), {"a.cgf"}, 0, "p+x0y0.bmp: bad image (skipped)\n"});
        rows.push_back({"negative width", p, under_mask(mask, with_le32(pic, 18, 0xFFFFFFFFu)), {"a.cgf"}, 0, "p+x0y0.bmp: bad image (skipped)\n"});
        rows.push_back({"offset past end", p, under_mask(mask, with_le32(pic, 10, 0xFFFFFF00u)), {"a.cgf"}, 0, "p+x0y0.bmp: bad image (skipped)\n"});
        rows.push_back({"zero width", p, under_mask(mask, with_le32(with_le32(pic, 18, 0), 2, 1)), {"a.cgf"}, 0, ""});
        rows.push_back({"negative height", p, under_mask(mask, with_le32(pic, 22, static_cast<uint32_t>(-4))), {"a.cgf"}, 0, ""});
        rows.push_back({"mask huge width", p, under_mask(with_le32(mask, 18, 0x7FFFFFFF), pic), {"a.cgf"}, 0, ""});
        rows.push_back({"mask negative width", p, under_mask(with_le32(mask, 18, 0x80000000u), pic), {"a.cgf"}, 0, ""});
        rows.push_back({"mask offset past end", p, under_mask(with_le32(mask, 10, 0xFFFFFFFFu), pic), {"a.cgf"}, 0, ""});
        rows.push_back({"mask of 3 bytes", p, under_mask(Bytes{1, 2, 3}, pic), {"a.cgf"}, 0, ""});
    }
    return rows;
}

const Bytes ONE_EVENT = make_event_table({{"E", "B", "D"}});

std::function<void(const std::string &)> merge_inputs(Bytes base, Bytes delta, Bytes table = ONE_EVENT) {
    return [=](const std::string &dir) {
        write_file_bytes(dir + "/B.bmp", base);
        write_file_bytes(dir + "/D.bmp", delta);
        write_file_bytes(dir + "/evinfo.bin", table);
    };
}

Bytes with_bits(Bytes b, uint16_t bits) {
    b[28] = static_cast<uint8_t>(bits);
    b[29] = static_cast<uint8_t>(bits >> 8);
    return b;
}

std::vector<Row> palimp_rows() {
    std::vector<Row> rows;
    const std::string p = palimp_path();
    const Bytes base = make_bmp24(8, 8, 0), delta = make_bmp32(4, 4, 1);
    const Bytes table = make_event_table({{"E", "B", "D"}, {"F", "B", "D"}});
    const std::vector<std::string> args = {"evinfo.bin", "-cleanup"};
    for (size_t len : {0, 3, 4 + 10, 4 + 83, 4 + 84 + 50, 4 + 84 + 83})
        rows.push_back({"table ends at " + std::to_string(len), p, merge_inputs(base, delta, Bytes(table.begin(), table.begin() + len)),
                        args, FATAL, "evinfo.bin: truncated event table\n"});
    rows.push_back({"count 51130564", p, merge_inputs(base, delta, with_le32(table, 0, 51130564)), args, FATAL,
                    "evinfo.bin: truncated event table\n"});
    rows.push_back({"count 0xFFFFFFFF", p, merge_inputs(base, delta, with_le32(table, 0, 0xFFFFFFFFu)), args, FATAL,
                    "evinfo.bin: truncated event table\n"});
    rows.push_back({"base offset past end", p, merge_inputs(with_le32(base, 10, 0x7FFFFFFF), delta), args, 0, ""});
    rows.push_back({"delta offset past end", p, merge_inputs(base, with_le32(delta, 10, 0xFFFFFFFFu)), args, 0, ""});
    rows.push_back({"base height -2^31", p, merge_inputs(with_le32(base, 22, 0x80000000u), delta), args, FATAL, "B.bmp: image too large\n"});
    rows.push_back({"delta huge", p, merge_inputs(base, with_le32(with_le32(delta, 18, 0x7FFFFFFF), 22, 0x7FFFFFFF)), args, FATAL,
                    "D.bmp: image too large\n"});
    rows.push_back({"delta wider than base", p, merge_inputs(base, with_le32(delta, 18, 9)), args, 0,
                    "E: base dimensions exceeded B+D (skipped)\n"});
    for (uint16_t bits : {0, 1, 4, 7, 8, 16, 64}) {
        rows.push_back({"base of " + std::to_string(bits) + " bits", p, merge_inputs(with_bits(base, bits), delta), args, 0,
                        "E: unsupported color depth B+D (skipped)\n"});
        rows.push_back({"delta of " + std::to_string(bits) + " bits", p, merge_inputs(base, with_bits(delta, bits)), args, 0,
                        "E: unsupported color depth B+D (skipped)\n"});
    }
    rows.push_back({"zero-sized delta", p, merge_inputs(base, with_le32(with_le32(delta, 18, 0), 22, 0)), args, 0, ""});
    rows.push_back({"delta file of 10 bytes", p, merge_inputs(base, Bytes(10, 0x42)), args, 0,
                    "E: unsupported color depth B+D (skipped)\n"});
    rows.push_back({"empty base file", p, merge_inputs(Bytes{}, delta), args, 0, "E: base dimensions exceeded B+D (skipped)\n"});
    for (const std::string &event : {std::string(".."), std::string("../E"), std::string("/tmp/E"), std::string("a\\E")})
        rows.push_back({"event " + event, p, merge_inputs(base, delta, make_event_table({{event, "B", "D"}})), args, 0,
                        event + ": unsafe event name (skipped)\n"});
    return rows;
}

// The same hostile archives through kegkit extract: kegsplit's skip lines,
// and its fatal ends as kegkit's one-line errors with status 1.
std::vector<Row> kegkit_rows() {
    std::vector<Row> rows;
    std::vector<Row> from = kegsplit_rows();
    const std::vector<Row> shapes = shape_rows();
    from.insert(from.end(), shapes.begin(), shapes.end());
    for (const Row &row : from) {
        if (row.pattern) continue;
        const char *revision = row.program == k(LAYOUT_2_11) ? "2.11" : row.program == k(LAYOUT_2_12) ? "2.12" : "2.13";
        Row r = row;
        r.label = "kegkit " + row.label;
        r.program = kegkit_path();
        r.args = {"extract", "-r", revision, "-o", ".", "-j", "2", "a.cgf"};
        if (row.status == FATAL) {
            r.status = 1;
            r.err = "kegkit: " + row.err;
        }
        rows.push_back(r);
    }
    return rows;
}

// A disk that is full from the first byte: the output name is a link to /dev/full.
std::function<void(const std::string &)> full_disk_at(const std::string &output,
                                                      std::function<void(const std::string &)> make) {
    return [=](const std::string &dir) {
        make(dir);
        ASSERT_EQ(symlink("/dev/full", (dir + "/" + output).c_str()), 0);
    };
}

// The work folder holds exactly `names` besides the inputs, each as `expect`
// gives it (an empty Bytes: only that it exists).
std::function<void(const std::string &)> holds(std::vector<std::pair<std::string, Bytes>> expect) {
    return [=](const std::string &dir) {
        std::vector<std::string> want;
        for (const auto &[name, bytes] : expect) {
            want.push_back(name);
            if (!bytes.empty()) {
                EXPECT_EQ(read_file_bytes(dir + "/" + name), bytes) << name;
            }
        }
        std::sort(want.begin(), want.end());
        EXPECT_EQ(list_tree(dir), want);
    };
}

std::vector<Row> full_disk_rows() {
    std::vector<Row> rows;
    const Bytes bg = make_bmp24(16, 16, 1), ev = make_bmp24(16, 16, 2), mask = make_mask8(16, 16, 0);
    const Bytes small = make_bmp24(2, 2, 3);
    for (const ArchiveLayout *lp : {&LAYOUT_2_11, &LAYOUT_2_12, &LAYOUT_2_13}) {
        const Bytes a = build_archive(*lp, {{"small.bmp", false, 0, 0, small, PACK_LZSS},
                                            {"bg.bmp", false, 0, 0, bg, PACK_LZSS},
                                            {"m", true, -1, 2, mask, PACK_RLE},
                                            {"ev.bmp", false, 0, 0, ev, PACK_LZSS},
                                            {"ev2.bmp", false, 0, 0, ev, PACK_LZSS}});
        const std::string p = k(*lp);
        rows.push_back({"kegsplit /dev/full", p, full_disk_at("bg.bmp", archive(a)), {"a.cgf"}, FATAL,
                        "Could not write bg.bmp (No space left on device)\n", false, 0,
                        holds({{"a.cgf", a}, {"small.bmp", small}, {"bg.bmp", {}}})});
        // 100 bytes a file: the small picture fits, the next is cut at 100 bytes.
        rows.push_back({"kegsplit file size limit", p, archive(a), {"a.cgf"}, FATAL,
                        "Could not write bg.bmp (" + file_too_large_text() + ")\n", false, 100,
                        holds({{"a.cgf", a}, {"small.bmp", small}})});
        // A composed picture, written by the BMP writer, cut short.
        const Bytes b = build_archive(*lp, {{"m", true, 0, 0, make_mask8(2, 2, 0), PACK_RLE},
                                            {"ev.bmp", false, 0, 0, small, PACK_LZSS},
                                            {"ev2.bmp", false, 0, 0, bg, PACK_LZSS},
                                            {"ev3.bmp", false, 0, 0, small, PACK_LZSS}});
        rows.push_back({"kegsplit composed over the limit", p, archive(b), {"a.cgf"}, FATAL,
                        "Could not write ev2+x0y0.bmp (" + file_too_large_text() + ")\n", false, 200,
                        holds({{"a.cgf", b}, {"ev+x0y0.bmp", {}}})});
    }

    const std::string p = palimp_path();
    const Bytes base = make_bmp24(16, 16, 0), delta = make_bmp32(4, 4, 1);
    const Bytes table = make_event_table({{"E", "B", "D"}, {"F", "B", "G"}, {"H", "B", "D"}});
    auto inputs = [=](const std::string &dir) {
        write_file_bytes(dir + "/B.bmp", base);
        write_file_bytes(dir + "/D.bmp", delta);
        write_file_bytes(dir + "/G.bmp", delta);
        write_file_bytes(dir + "/evinfo.bin", table);
    };
    const std::vector<std::pair<std::string, Bytes>> kept = {
        {"B.bmp", base}, {"D.bmp", delta}, {"G.bmp", delta}, {"evinfo.bin", table}};
    auto with = [&](std::vector<std::pair<std::string, Bytes>> more) {
        more.insert(more.end(), kept.begin(), kept.end());
        return holds(more);
    };
    rows.push_back({"palimp /dev/full with -cleanup", p, full_disk_at("F.bmp", inputs), {"evinfo.bin", "-cleanup"},
                    FATAL, "Could not write F.bmp (No space left on device)\n", false, 0,
                    with({{"E.bmp", reference_merge(base, delta, 0, 0)}, {"F.bmp", {}}})});
    rows.push_back({"palimp file size limit with -cleanup", p, inputs, {"evinfo.bin", "-cleanup"}, FATAL,
                    "Could not write E.bmp (" + file_too_large_text() + ")\n", false, 300, with({})});
    return rows;
}

void check_row(const Row &row) {
    SCOPED_TRACE(row.label);
    TempDir root;
    const std::string work = root.file("work");
    ASSERT_EQ(mkdir(work.c_str(), 0700), 0);
    row.make(work);
    const RunResult r = run_program(row.program, row.args, work, 0, row.file_size);
    if (row.status >= 0) {
        EXPECT_EQ(r.status, row.status) << r.err;
    } else {
        EXPECT_TRUE(r.status == 0 || r.status == FATAL) << r.status << " " << r.err;
    }
    if (row.pattern) {
        EXPECT_TRUE(std::regex_match(r.err, std::regex(row.err))) << r.err;
    } else {
        EXPECT_EQ(r.err, row.err);
    }
    EXPECT_EQ(r.out, "");
    for (const std::string &name : list_tree(root.path)) EXPECT_EQ(name.rfind("work/", 0), 0u) << name;
    EXPECT_FALSE(file_exists("/tmp/out.bmp"));
    EXPECT_FALSE(file_exists("/tmp/E.bmp"));
    if (row.check) row.check(work);
}

class BadInput : public testing::TestWithParam<Row> {};

TEST_P(BadInput, EndsAsExpectedAndWritesOnlyInItsFolder) { check_row(GetParam()); }

// Every prefix of a small valid archive: a table cut short is fatal, an
// entry cut short is skipped.
TEST(BadInputPrefixes, EveryPrefixOfAnArchiveOfEachRevision) {
    Bytes mask(54 + 8 + 4, 0);  // 1 x 1, a palette of two entries
    put_le32(mask, 10, 62);
    put_le32(mask, 18, 1);
    mask[60] = 0x80;
    mask[62] = 1;
    for (const ArchiveLayout *lp : {&LAYOUT_2_11, &LAYOUT_2_12, &LAYOUT_2_13}) {
        const Bytes good = build_archive(*lp, {{"bg.bmp", false, 0, 0, make_bmp24(1, 1, 1), PACK_LZSS},
                                               {"m", true, -1, 2, mask, PACK_RLE},
                                               {"ev.bmp", false, 0, 0, make_bmp24(1, 1, 2), PACK_LZSS}});
        const size_t table_end = 4 + 3 * lp->entry_size;
        for (size_t len = 0; len < good.size(); ++len) {
            const bool fatal = len < table_end;
            check_row({"prefix " + std::to_string(len), k(*lp), archive(Bytes(good.begin(), good.begin() + len)), {"a.cgf"},
                       fatal ? FATAL : 0, fatal ? "a.cgf: truncated entry table\n" : KEGSPLIT_ANY, !fatal});
        }
    }
}

std::string row_name(const testing::TestParamInfo<Row> &info) {
    std::string name = std::to_string(info.index) + "_" + info.param.label;
    for (char &c : name)
        if (!isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Kegsplit, BadInput, testing::ValuesIn(kegsplit_rows()), row_name);
INSTANTIATE_TEST_SUITE_P(Shapes, BadInput, testing::ValuesIn(shape_rows()), row_name);
INSTANTIATE_TEST_SUITE_P(Palimp, BadInput, testing::ValuesIn(palimp_rows()), row_name);
INSTANTIATE_TEST_SUITE_P(FullDisk, BadInput, testing::ValuesIn(full_disk_rows()), row_name);
INSTANTIATE_TEST_SUITE_P(Kegkit, BadInput, testing::ValuesIn(kegkit_rows()), row_name);

}  // namespace
