// find_bitmap and the placement parse, in a folder of files made here.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "file_search.h"
#include "test_support.h"

namespace {

TEST(ParsePlacement, ReadsBothNumbersAfterTheName) {
    int32_t x = 7, y = 7;
    EXPECT_TRUE(parse_placement("D+x10y20.bmp", "D", x, y));
    EXPECT_EQ(x, 10);
    EXPECT_EQ(y, 20);
    EXPECT_TRUE(parse_placement("B+x-8y-4.bmp", "B", x, y));
    EXPECT_EQ(x, -8);
    EXPECT_EQ(y, -4);
    EXPECT_TRUE(parse_placement("B+x+3y 4.bmp", "B", x, y));  // as "%d" reads: sign, blanks
    EXPECT_EQ(x, 3);
    EXPECT_EQ(y, 4);
    EXPECT_TRUE(parse_placement("B+x-2147483648y2147483647.bmp", "B", x, y));
    EXPECT_EQ(x, INT32_MIN);
    EXPECT_EQ(y, INT32_MAX);
}

TEST(ParsePlacement, AnythingElseIsTheOrigin) {
    for (const char *file : {"B+x10.bmp", "B+xy5.bmp", "B+y5x5.bmp", "b+x5y5.bmp", "B+x5z5.bmp", "B+x2147483648y0.bmp",
                             "B+copy.bmp", "B.bmp", "B+x5y.bmp"}) {
        int32_t x = 7, y = 7;
        EXPECT_FALSE(parse_placement(file, "B", x, y)) << file;
        EXPECT_EQ(x, 0) << file;
        EXPECT_EQ(y, 0) << file;
    }
    int32_t x = 1, y = 1;
    // The name is matched literally: no conversion of its own.
    EXPECT_TRUE(parse_placement("a%d+x1y2.bmp", "a%d", x, y));
    EXPECT_EQ(y, 2);
}

class FindBitmap : public testing::Test {
protected:
    void touch(const std::string &name) { write_file_bytes(dir.file(name), Bytes{1}); }
    bool find(const std::string &name) {
        ScopedChdir in(dir.path);
        return find_bitmap(platform_index_folder(""), name, found, x, y);
    }
    TempDir dir;
    std::string found;
    int32_t x = 0, y = 0;
};

TEST_F(FindBitmap, ExactNameWinsOverPlacedNames) {
    touch("B+x5y5.bmp");
    touch("B.bmp");
    ASSERT_TRUE(find("B"));
    EXPECT_EQ(found, "B.bmp");
    EXPECT_EQ(x, 0);
    EXPECT_EQ(y, 0);
}

TEST_F(FindBitmap, PlacedNameGivesItsOffset) {
    touch("D+x120y90.bmp");
    touch("Dx.bmp");
    ASSERT_TRUE(find("D"));
    EXPECT_EQ(found, "D+x120y90.bmp");
    EXPECT_EQ(x, 120);
    EXPECT_EQ(y, 90);
}

TEST_F(FindBitmap, CaseIsIgnoredButExactBytesArePreferred) {
    touch("ev.BMP");
    ASSERT_TRUE(find("EV"));
    EXPECT_EQ(found, "ev.BMP");
    touch("EV.bmp");
    touch("Ev.bmp");
    ASSERT_TRUE(find("EV"));
    EXPECT_EQ(found, "EV.bmp");
    ASSERT_TRUE(find("eV"));
    EXPECT_EQ(found, "EV.bmp");  // first in byte order: 'E' < 'e'
}

TEST_F(FindBitmap, PlacedMatchInOtherCaseHasNoOffset) {
    touch("b+x5y6.BMP");
    ASSERT_TRUE(find("B"));
    EXPECT_EQ(found, "b+x5y6.BMP");
    EXPECT_EQ(x, 0);
    EXPECT_EQ(y, 0);
}

TEST_F(FindBitmap, FirstPlacedNameInByteOrder) {
    touch("B+x9y9.bmp");
    touch("B+x10y1.bmp");
    touch("B+\xE9.bmp");
    ASSERT_TRUE(find("B"));
    EXPECT_EQ(found, "B+x10y1.bmp");
}

TEST_F(FindBitmap, DirectoriesNeverMatchButDanglingLinksDo) {
    ASSERT_EQ(mkdir(dir.file("B.bmp").c_str(), 0700), 0);
    ASSERT_EQ(mkdir(dir.file("B+x1y1.bmp").c_str(), 0700), 0);
    EXPECT_FALSE(find("B"));
    ASSERT_EQ(symlink("nowhere.bmp", dir.file("L.bmp").c_str()), 0);
    ASSERT_TRUE(find("L"));
    EXPECT_EQ(found, "L.bmp");
    touch("target.bmp");
    ASSERT_EQ(symlink("target.bmp", dir.file("T+x1y2.bmp").c_str()), 0);
    ASSERT_TRUE(find("T"));
    EXPECT_EQ(x, 1);
}

TEST_F(FindBitmap, EmptyAndMissingNames) {
    EXPECT_FALSE(find("B"));
    EXPECT_FALSE(find(""));
    touch("+x1y2.bmp");
    ASSERT_TRUE(find(""));
    EXPECT_EQ(found, "+x1y2.bmp");
    EXPECT_EQ(x, 1);
    EXPECT_EQ(y, 2);
    touch("B+.bmp");  // "+" then ".bmp" with nothing between still matches
    ASSERT_TRUE(find("B"));
    EXPECT_EQ(found, "B+.bmp");
    ASSERT_TRUE(find("B+"));  // found by its exact name
    EXPECT_EQ(found, "B+.bmp");
}

}  // namespace
