// Stored names read and written in their code page, through the system's
// tables: the characters where Windows' cp932 and gbk differ from plain
// Shift-JIS and GB2312, the choice auto makes, and the spelling of bytes
// that read as no text. Built for Windows too, where the tables are the
// system's own.
#include "name_encoding.h"

#include <gtest/gtest.h>

#include "platform.h"

namespace {

std::string decoded(const std::string &bytes, CodePage page) {
    std::string utf8;
    EXPECT_TRUE(platform_decode_name(bytes, page, utf8)) << hex_bytes(bytes);
    return utf8;
}

TEST(NameEncoding, CodePagesAreWindowsOwn) {
    EXPECT_EQ(decoded("\x81\x60", CODE_PAGE_CP932), "\xEF\xBD\x9E");                          // U+FF5E, not U+301C
    EXPECT_EQ(decoded("\x87\x40", CODE_PAGE_CP932), "\xE2\x91\xA0");                          // NEC row 13: ①
    EXPECT_EQ(decoded("\xFA\x40", CODE_PAGE_CP932), "\xE2\x85\xB0");                          // IBM extension: ⅰ
    EXPECT_EQ(decoded("\xB1\xDF", CODE_PAGE_CP932), "\xEF\xBD\xB1\xEF\xBE\x9F");              // half-width ｱﾟ
    EXPECT_EQ(decoded("\x95\x5C\\\x83\x5C", CODE_PAGE_CP932), "\xE8\xA1\xA8\\\xE3\x82\xBD");  // 表\ソ
    EXPECT_EQ(decoded("\x80", CODE_PAGE_GBK), "\xE2\x82\xAC");                                // €
    EXPECT_EQ(decoded("\xC8\xCB\xCE\xEF", CODE_PAGE_GBK), "\xE4\xBA\xBA\xE7\x89\xA9");        // 人物
    std::string out;
    EXPECT_FALSE(platform_decode_name("\xC8\xCB\xCE", CODE_PAGE_GBK, out));  // a lead byte alone
    EXPECT_FALSE(platform_decode_name("\xFF", CODE_PAGE_CP932, out));
    EXPECT_TRUE(platform_encode_name("\xEF\xBD\x9E", CODE_PAGE_CP932, out));
    EXPECT_EQ(out, "\x81\x60");
    // No stand-ins: ¥ and ‾ are not the backslash and the tilde, 〜 is not ～.
    for (const char *refused : {"\xC2\xA5", "\xE2\x80\xBE", "\xE3\x80\x9C", "\xED\x95\x9C"})
        EXPECT_FALSE(platform_encode_name(refused, CODE_PAGE_CP932, out)) << refused;
}

TEST(NameEncoding, AutoTakesTheFirstEncodingThatReadsEveryName) {
    const struct {
        std::vector<std::string> stored;
        NameEncoding taken;
        std::vector<std::string> names;
    } cases[] = {
        {{"bg01", "cg\\ev"}, NAMES_UTF8, {"bg01", "cg\\ev"}},
        {{"\xE6\x97\xA5\xE6\x9C\xAC", "bg"}, NAMES_UTF8, {"\xE6\x97\xA5\xE6\x9C\xAC", "bg"}},
        {{"\x95\x5C", "\xB1", "bg"}, NAMES_CP932, {"\xE8\xA1\xA8", "\xEF\xBD\xB1", "bg"}},
        {{"\xC8\xCB\xCE\xEF", "bg"}, NAMES_GBK, {"\xE4\xBA\xBA\xE7\x89\xA9", "bg"}},
        // Reads as cp932 but would be written back as 0x81E0: not cp932.
        {{"\x87\x90"}, NAMES_GBK, {"\xE5\x99\xBD"}},
        {{"a%\xFF", "\x95\x5C"}, NAMES_RAW, {"a%25%FF", "%95\\"}},
    };
    for (const auto &c : cases) {
        NameReading reading;
        ASSERT_TRUE(read_names(c.stored, NAMES_AUTO, RAW_ESCAPED, reading));
        EXPECT_EQ(reading.encoding, c.taken) << c.stored[0];
        EXPECT_EQ(reading.names, c.names);
        EXPECT_EQ(reading.fell_to_raw, c.taken == NAMES_RAW);
    }
    NameReading reading;
    EXPECT_FALSE(read_names({"bg", "\x95\x5C"}, NAMES_UTF8, RAW_ESCAPED, reading));
    EXPECT_EQ(reading.failed, 1u);
    ASSERT_TRUE(read_names({"a%\xFF"}, NAMES_RAW, RAW_AS_BYTES, reading));
    EXPECT_EQ(reading.names[0], "a%\xFF");
}

TEST(NameEncoding, WritingGivesBackWhatWasRead) {
    const struct {
        std::vector<std::string> names;
        NameEncoding taken;
        std::vector<std::string> bytes;
    } cases[] = {
        {{"bg01", "a%41"}, NAMES_UTF8, {"bg01", "a%41"}},
        {{"\xE8\xA1\xA8", "\xEF\xBD\xB1"}, NAMES_CP932, {"\x95\x5C", "\xB1"}},
        {{"\xE4\xBA\xBA\xE7\x89\xA9", "\xE8\xBF\x99"},
         NAMES_GBK,
         {"\xC8\xCB\xCE\xEF", "\xD5\xE2"}},                                                // 这: not in cp932
        {{"\xED\x95\x9C", "\xE8\xA1\xA8"}, NAMES_UTF8, {"\xED\x95\x9C", "\xE8\xA1\xA8"}},  // 한: in neither
        {{"a%25%FF", "%95\\"}, NAMES_RAW, {"a%\xFF", "\x95\\"}},
    };
    for (const auto &c : cases) {
        NameWriting writing;
        ASSERT_TRUE(write_names(c.names, NAMES_AUTO, RAW_ESCAPED, writing));
        EXPECT_EQ(writing.encoding, c.taken) << c.names[0];
        EXPECT_EQ(writing.bytes, c.bytes);
    }
    NameWriting writing;
    ASSERT_TRUE(write_names({"a\xFF"}, NAMES_AUTO, RAW_AS_BYTES, writing));  // bytes from a folder
    EXPECT_EQ(writing.encoding, NAMES_RAW);
    EXPECT_FALSE(write_names({"bg", "\xC2\xA5"}, NAMES_CP932, RAW_ESCAPED, writing));
    EXPECT_EQ(writing.failed, 1u);
    EXPECT_FALSE(write_names({"a%00"}, NAMES_RAW, RAW_ESCAPED, writing));  // a NUL would end the name
}

TEST(NameEncoding, RawSpellingIsReversibleAndReadable) {
    std::string all;
    for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
    const std::string spelled = spell_raw_name(all, RAW_ESCAPED);
    for (const char c : spelled) EXPECT_TRUE(c >= 0x20 && c < 0x7F) << spelled;
    EXPECT_EQ(unspell_raw_name(spelled, RAW_ESCAPED), all);
    EXPECT_EQ(spell_raw_name("50%\x01\x7F", RAW_ESCAPED), "50%25%01%7F");
    EXPECT_EQ(unspell_raw_name("50%zz%4", RAW_ESCAPED), "50%zz%4");
    EXPECT_EQ(spell_raw_name("\xFF", RAW_AS_BYTES), "\xFF");
}

TEST(NameEncoding, Utf8AndWidths) {
    for (const char *bad : {"\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE3\x81", "\x80", "\xF8\x88\x80\x80\x80"})
        EXPECT_FALSE(is_utf8_text(bad)) << hex_bytes(bad);
    EXPECT_TRUE(is_utf8_text("a\xC2\xA5\xE8\xA1\xA8\xF0\x9F\x98\x80"));
    EXPECT_EQ(display_width("ab\xE8\xA1\xA8\xEF\xBD\xB1"), 5u);  // 表 two columns, ｱ one
    EXPECT_EQ(printable_name("a\xFF"), "a%FF");
    EXPECT_EQ(hex_bytes("\x95\x5C"), "95 5C");
}

}  // namespace
