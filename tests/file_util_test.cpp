// File and string helpers.
#include <gtest/gtest.h>

#include "file_util.h"
#include "test_support.h"

namespace {

TEST(GetFileStem, KeepsDirectoriesAndRemovesOneExtension) {
    EXPECT_EQ(get_file_stem("pics/ev01.bmp", false), "pics/ev01");
    EXPECT_EQ(get_file_stem("pics.old/ev01", false), "pics.old/ev01");
    EXPECT_EQ(get_file_stem("ev01.tar.bmp", false), "ev01.tar");
    EXPECT_EQ(get_file_stem("ev01.", false), "ev01");
    EXPECT_EQ(get_file_stem("ev01", false), "ev01");
    EXPECT_EQ(get_file_stem("", false), "");
    EXPECT_EQ(get_file_stem(".bmp", false), "");
    EXPECT_EQ(get_file_stem("cg\\ev01.bmp", false), "cg\\ev01");
    EXPECT_EQ(get_file_stem("cg.d\\ev01", false), "cg.d\\ev01");
}

TEST(GetFileStem, StripsTheDirectoryOnRequest) {
    EXPECT_EQ(get_file_stem("a\\b/ev01.bmp", true), "ev01");
    EXPECT_EQ(get_file_stem("dir/", true), "");
    EXPECT_EQ(get_file_stem("ev01.bmp", true), "ev01");
}

TEST(FormatString, ReturnsLongTextsWhole) {
    const std::string stem(5000, 'q');
    const std::string name = format_string("%s+x%dy%d.bmp", stem.c_str(), -8, 16);
    EXPECT_EQ(name, stem + "+x-8y16.bmp");
    EXPECT_EQ(name.size(), 5000u + 11);
    EXPECT_EQ(format_string("%s+x%dy%d.bmp", "e", 0, 0), "e+x0y0.bmp");
}

TEST(WriteFile, TruncatesAndWritesExactlyTheLength) {
    TempDir dir;
    const std::string path = dir.file("out.bin");
    write_file_bytes(path, Bytes(100, 7));
    const uint8_t data[3] = {1, 2, 3};
    write_file(path, data, 3);
    EXPECT_EQ(read_file_bytes(path), (Bytes{1, 2, 3}));
    write_file(path, data, 0);
    EXPECT_TRUE(file_exists(path));
    EXPECT_EQ(read_file_bytes(path).size(), 0u);
}

TEST(OpenFileOrExit, MissingFileEndsTheRunWithTheMessage) {
    const std::string path = "no-such-folder/nope.cgf";
    EXPECT_EXIT(open_file_or_exit(path, OPEN_READ_FLAGS, 0), testing::ExitedWithCode(FATAL_EXIT_CODE),
                whole_line_pattern("Could not open " + path + " (No such file or directory)"));
}

}  // namespace
