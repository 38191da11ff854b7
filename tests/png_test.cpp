// PNG encoder and decoder, the strict in-memory BMP parser, and the
// conversions between them: round trips, files ImageMagick reads and writes,
// hostile files, and a bounded address space for the ones that claim much.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "bmp_image.h"
#include "png_image.h"
#include "test_support.h"

#if !defined(_WIN32)
#include <sys/resource.h>
#endif

namespace {

Bytes random_bytes(size_t n, uint32_t seed) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) {
        seed = seed * 1103515245u + 12345u;
        b[i] = static_cast<uint8_t>(seed >> 16);
    }
    return b;
}

// A bottom-up picture of `kind` with padded rows; pixels from `fill`, padding zero.
Picture make_picture(PictureKind kind, uint32_t width, uint32_t height, const Bytes &fill) {
    Picture p;
    p.kind = kind;
    const uint32_t bpp = kind == PICTURE_INDEXED ? 1 : kind == PICTURE_RGB ? 3 : 4;
    PixelBuffer &b = p.buffer;
    b.width = width;
    b.height = height;
    b.bytes_per_pixel = static_cast<int32_t>(bpp);
    b.stride = static_cast<int32_t>((width * bpp + 3) & ~3u);
    b.size = b.stride * static_cast<int32_t>(height);
    b.pixels.reset(new uint8_t[static_cast<size_t>(b.size)]());
    for (uint32_t y = 0; y < height; ++y)
        std::memcpy(b.pixels.get() + y * static_cast<size_t>(b.stride), fill.data() + size_t{y} * width * bpp,
                    size_t{width} * bpp);
    return p;
}

Bytes pixels_of(const Picture &p) { return Bytes(p.buffer.pixels.get(), p.buffer.pixels.get() + p.buffer.size); }

Bytes encode(const Picture &p, const PngOptions &options = {}) {
    Bytes png;
    std::string error;
    EXPECT_TRUE(encode_png(picture_view(p), options, png, error)) << error;
    return png;
}

// The reason decode_png gives, or "" when it decodes.
std::string refusal(const Bytes &png) {
    Picture p;
    std::string error;
    return decode_png(png.data(), png.size(), p, error) ? "" : error;
}

uint32_t crc32_of(const uint8_t *p, size_t n) {
    uint32_t c = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; ++i) {
        c ^= p[i];
        for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
    }
    return ~c;
}

void put_be32(Bytes &b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

// Rewrites IHDR (always the first chunk, at byte 8) and its CRC.
Bytes with_ihdr(Bytes png, uint32_t width, uint32_t height, uint8_t depth, uint8_t colour_type) {
    put_be32(png, 16, width);
    put_be32(png, 20, height);
    png[24] = depth;
    png[25] = colour_type;
    put_be32(png, 29, crc32_of(png.data() + 12, 17));
    return png;
}

void expect_same_picture(const Picture &got, const Picture &want) {
    EXPECT_EQ(got.kind, want.kind);
    EXPECT_EQ(got.buffer.width, want.buffer.width);
    EXPECT_EQ(got.buffer.height, want.buffer.height);
    EXPECT_EQ(got.buffer.stride, want.buffer.stride);
    EXPECT_EQ(pixels_of(got), pixels_of(want));
}

TEST(Png, RoundTripOfEachKind) {
    Picture rgb = make_picture(PICTURE_RGB, 7, 5, random_bytes(7 * 5 * 3, 1));
    Bytes rgba_pixels = random_bytes(256 * 3 * 4, 2);
    for (size_t i = 0; i < 256 * 3; ++i) rgba_pixels[i * 4 + 3] = static_cast<uint8_t>(i);  // every alpha
    Picture rgba = make_picture(PICTURE_RGBA, 256, 3, rgba_pixels);
    // Indices up to 9 against a palette of 4: entries 4 to 9 become black.
    Bytes indices(13 * 4);
    for (size_t i = 0; i < indices.size(); ++i) indices[i] = static_cast<uint8_t>(i % 10);
    Picture indexed = make_picture(PICTURE_INDEXED, 13, 4, indices);
    indexed.palette_count = 4;
    for (int i = 0; i < 16; ++i) indexed.palette[i] = static_cast<uint8_t>(i % 4 == 3 ? 0 : 100 + i);

    for (const Picture *want : {&rgb, &rgba, &indexed}) {
        for (const PngOptions options : {PngOptions{}, PngOptions{12, PNG_FILTER_ALL},
                                         PngOptions{0, PNG_FILTER_NONE}}) {
            const Bytes png = encode(*want, options);
            Picture got;
            std::string error;
            ASSERT_TRUE(decode_png(png.data(), png.size(), got, error)) << error;
            expect_same_picture(got, *want);
            if (want == &indexed) {
                EXPECT_EQ(got.palette_count, 10u);
                EXPECT_EQ(0, std::memcmp(got.palette, indexed.palette, 16));
                EXPECT_EQ(Bytes(got.palette + 16, got.palette + 40), Bytes(24, 0));
            }
        }
    }
}

uint32_t be32(const uint8_t *p) { return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3]; }

// Walks the file's chunks on its own: the signature, IHDR as the picture
// says, PLTE for indexed pictures only, then one or more IDAT, then IEND at
// the very end; every CRC. Returns the number of IDAT chunks.
int expect_plain_chunks(const Bytes &png, const Picture &p) {
    static const uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    EXPECT_TRUE(png.size() >= 8 && std::memcmp(png.data(), signature, 8) == 0);
    std::vector<std::string> types;
    for (size_t at = 8; at < png.size();) {
        if (png.size() - at < 12 || be32(&png[at]) > png.size() - at - 12) {
            ADD_FAILURE() << "chunk cut short at " << at;
            return 0;
        }
        const uint32_t length = be32(&png[at]);
        types.emplace_back(reinterpret_cast<const char *>(&png[at + 4]), 4);
        EXPECT_EQ(be32(&png[at + 8 + length]), crc32_of(&png[at + 4], length + 4)) << types.back();
        if (types.back() == "IHDR") {
            const uint8_t colour = p.kind == PICTURE_RGBA ? 6 : p.kind == PICTURE_RGB ? 2 : 3;
            Bytes want(13, 0);
            put_be32(want, 0, p.buffer.width);
            put_be32(want, 4, p.buffer.height);
            want[8] = 8;
            want[9] = colour;
            EXPECT_EQ(Bytes(&png[at + 8], &png[at + 8 + length]), want);
        }
        at += 12 + length;
    }
    const int idat = static_cast<int>(std::count(types.begin(), types.end(), "IDAT"));
    std::vector<std::string> want = {"IHDR"};
    if (p.kind == PICTURE_INDEXED) want.push_back("PLTE");
    want.insert(want.end(), static_cast<size_t>(idat), "IDAT");
    want.push_back("IEND");
    EXPECT_GE(idat, 1);
    EXPECT_EQ(types, want);
    return idat;
}

// Rows of noise, of flat colour and of smooth ramps, so that every filter
// has rows it suits; indices stay within the palette.
Picture mixed_picture(PictureKind kind, uint32_t width, uint32_t height, uint32_t seed) {
    const uint32_t bpp = kind == PICTURE_INDEXED ? 1 : kind == PICTURE_RGB ? 3 : 4;
    Bytes fill = random_bytes(size_t{width} * height * bpp, seed);
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t *row = fill.data() + size_t{y} * width * bpp;
        if (y % 3 == 1) std::memset(row, static_cast<int>(seed), size_t{width} * bpp);
        if (y % 3 == 2)
            for (size_t i = 0; i < size_t{width} * bpp; ++i) row[i] = static_cast<uint8_t>(i / bpp + y);
    }
    Picture p = make_picture(kind, width, height, fill);
    if (kind == PICTURE_INDEXED) {
        p.palette_count = 256;
        std::memcpy(p.palette, random_bytes(1024, seed + 1).data(), 1024);
    }
    return p;
}

void expect_round_trip(const Picture &p, const PngOptions &options) {
    const Bytes png = encode(p, options);
    expect_plain_chunks(png, p);
    Picture got;
    std::string error;
    ASSERT_TRUE(decode_png(png.data(), png.size(), got, error)) << error;
    expect_same_picture(got, p);
}

// Every kind, widths from 1 to a few thousand, every level: the chunks are
// plain and libspng gives back the pixels.
TEST(PngWriter, EveryKindWidthAndLevel) {
    for (const PictureKind kind : {PICTURE_RGB, PICTURE_RGBA, PICTURE_INDEXED})
        for (const uint32_t width : {1u, 2u, 5u, 64u, 333u, 3001u})
            for (int level = PNG_LEVEL_MIN; level <= PNG_LEVEL_MAX; ++level) {
                SCOPED_TRACE(testing::Message() << kind << " " << width << " level " << level);
                expect_round_trip(mixed_picture(kind, width, 7, width + level), {level, PngOptions{}.filter});
            }
}

// A stream over 1 MiB goes into several IDAT chunks.
TEST(PngWriter, LongStreamsInSeveralChunks) {
    const Picture noise = make_picture(PICTURE_RGBA, 1000, 400, random_bytes(1000 * 400 * 4, 31));
    for (const int level : {0, 1}) {
        const Bytes png = encode(noise, {level, PngOptions{}.filter});
        EXPECT_EQ(expect_plain_chunks(png, noise), 2) << level;
        Picture got;
        std::string error;
        ASSERT_TRUE(decode_png(png.data(), png.size(), got, error)) << error;
        expect_same_picture(got, noise);
    }
}

// Random shapes, kinds, levels and filter sets.
TEST(PngWriter, RandomShapesLevelsAndFilters) {
    uint32_t seed = 77;
    const auto next = [&seed] { return seed = seed * 1103515245u + 12345u, seed >> 8; };
    for (int round = 0; round < 150; ++round) {
        const PictureKind kind = static_cast<PictureKind>(next() % 3 == 0 ? PICTURE_RGB
                                                          : next() % 2    ? PICTURE_RGBA
                                                                          : PICTURE_INDEXED);
        const PngOptions options{static_cast<int>(next() % 13), static_cast<int>(1 + next() % PNG_FILTER_ALL)};
        SCOPED_TRACE(testing::Message() << "round " << round);
        expect_round_trip(mixed_picture(kind, 1 + next() % 400, 1 + next() % 30, next()), options);
    }
}

TEST(Png, EncoderRefusesWhatItCannotWrite) {
    const Picture p = make_picture(PICTURE_RGB, 2, 2, Bytes(12, 7));
    Bytes png;
    std::string error;
    PixelView view = picture_view(p);
    view.bytes_per_pixel = 2;
    EXPECT_FALSE(encode_png(view, PngOptions{}, png, error));
    EXPECT_EQ(error, "unsupported pixel size");
    view = picture_view(p);
    view.height = 0;
    EXPECT_FALSE(encode_png(view, PngOptions{}, png, error));
    EXPECT_EQ(error, "empty picture");
    view = picture_view(p);
    view.stride = 5;
    EXPECT_FALSE(encode_png(view, PngOptions{}, png, error));
    EXPECT_EQ(error, "rows overlap");
    EXPECT_FALSE(encode_png(picture_view(p), PngOptions{13, PNG_FILTER_ALL}, png, error));
    EXPECT_EQ(error, "bad PNG options");
    EXPECT_TRUE(png.empty());
}

// ImageMagick on the other side of every conversion.
class PngImageMagick : public testing::Test {
protected:
    void SetUp() override {
#if defined(_WIN32)
        GTEST_SKIP() << "ImageMagick is not reachable from the Windows build";
#else
        if (std::system("/usr/bin/convert -version > /dev/null 2>&1") != 0)
            GTEST_SKIP() << "ImageMagick is not installed";
#endif
    }
    void convert(const std::string &args) {
        const std::string command = "cd " + dir.path + " && /usr/bin/convert " + args + " 2>/dev/null";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
    }
    Picture decode_file(const std::string &name) {
        const Bytes png = read_file_bytes(dir.file(name));
        Picture p;
        std::string error;
        EXPECT_TRUE(decode_png(png.data(), png.size(), p, error)) << name << ": " << error;
        return p;
    }
    TempDir dir;
};

// Top-down rows of red, green, blue, alpha, as ImageMagick's rgba: dump writes them.
Bytes as_rgba(const Picture &p) {
    Bytes out;
    for (uint32_t y = p.buffer.height; y-- > 0;) {
        const uint8_t *row = p.buffer.pixels.get() + y * static_cast<size_t>(p.buffer.stride);
        for (uint32_t x = 0; x < p.buffer.width; ++x) {
            const uint8_t *px = p.kind == PICTURE_INDEXED ? p.palette + row[x] * 4
                                                          : row + x * static_cast<size_t>(p.buffer.bytes_per_pixel);
            out.insert(out.end(), {px[2], px[1], px[0], p.kind == PICTURE_RGBA ? px[3] : uint8_t{255}});
        }
    }
    return out;
}

TEST_F(PngImageMagick, ReadsOurFiles) {
    Bytes rgba_pixels = random_bytes(64 * 5 * 4, 3);
    for (size_t i = 0; i < 64 * 5; ++i) rgba_pixels[i * 4 + 3] = static_cast<uint8_t>(i * 5);
    Picture indexed = make_picture(PICTURE_INDEXED, 9, 3, random_bytes(27, 4));
    std::memcpy(indexed.palette, random_bytes(1024, 5).data(), 1024);
    indexed.palette_count = 256;
    for (uint32_t i = 0; i < 256; ++i) indexed.palette[i * 4 + 3] = 0;
    const Picture pictures[] = {make_picture(PICTURE_RGB, 33, 7, random_bytes(33 * 7 * 3, 6)),
                                make_picture(PICTURE_RGBA, 64, 5, rgba_pixels), std::move(indexed)};
    for (const Picture &p : pictures) {
        write_file_bytes(dir.file("ours.png"), encode(p));
        convert("ours.png -depth 8 rgba:ours.raw");
        EXPECT_EQ(read_file_bytes(dir.file("ours.raw")), as_rgba(p)) << p.kind;
    }
}

// ImageMagick reads what every level writes, for every kind and a wide and
// a narrow picture, to the same pixels.
TEST_F(PngImageMagick, ReadsEveryKindWidthAndLevel) {
    std::vector<std::pair<std::string, Picture>> written;
    for (const PictureKind kind : {PICTURE_RGB, PICTURE_RGBA, PICTURE_INDEXED})
        for (const uint32_t width : {1u, 2999u})
            for (int level = PNG_LEVEL_MIN; level <= PNG_LEVEL_MAX; ++level) {
                std::string name = "k";  // appended: GCC 12 warns falsely on "k" + std::to_string(...)
                name.append(std::to_string(kind)).append("w").append(std::to_string(width));
                name.append("l").append(std::to_string(level));
                Picture p = mixed_picture(kind, width, 5, static_cast<uint32_t>(level) + width);
                write_file_bytes(dir.file(name + ".png"), encode(p, {level, PngOptions{}.filter}));
                written.emplace_back(name, std::move(p));
            }
    const std::string command = "cd " + dir.path + " && /usr/bin/mogrify -depth 8 -format rgba *.png 2>/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    for (const auto &[name, p] : written) EXPECT_EQ(read_file_bytes(dir.file(name + ".rgba")), as_rgba(p)) << name;
}

TEST_F(PngImageMagick, ItsFilesDecodeOrAreRefused) {
    const Bytes rgba = random_bytes(23 * 11 * 4, 7);
    write_file_bytes(dir.file("in.rgba"), rgba);
    Bytes grey_alpha(23 * 11 * 4), opaque = rgba, five(23 * 11 * 4);
    for (size_t i = 0; i < 23 * 11; ++i) {
        grey_alpha[i * 4] = grey_alpha[i * 4 + 1] = grey_alpha[i * 4 + 2] = rgba[i * 4];
        grey_alpha[i * 4 + 3] = rgba[i * 4 + 3];
        opaque[i * 4 + 3] = 255;
        const uint8_t colours[5][3] = {{255, 0, 0}, {0, 128, 0}, {0, 0, 255}, {9, 9, 9}, {200, 100, 50}};
        std::memcpy(&five[i * 4], colours[i * 7 % 5], 3);
        five[i * 4 + 3] = 255;
    }
    write_file_bytes(dir.file("grey.rgba"), grey_alpha);
    write_file_bytes(dir.file("opaque.rgba"), opaque);
    write_file_bytes(dir.file("five.rgba"), five);
    Bytes grey = grey_alpha;
    for (size_t i = 0; i < 23 * 11; ++i) grey[i * 4 + 3] = 255;
    const std::string in = "-size 23x11 -depth 8 rgba:";
    const struct {
        std::string args;
        PictureKind kind;
        Bytes want;
    } cases[] = {
        {in + "opaque.rgba PNG24:rgb.png", PICTURE_RGB, opaque},
        {in + "in.rgba PNG32:rgba.png", PICTURE_RGBA, rgba},
        {in + "grey.rgba -alpha off -define png:color-type=0 -define png:bit-depth=8 PNG:g.png", PICTURE_RGB, grey},
        {in + "grey.rgba -alpha on -define png:color-type=4 PNG:ga.png", PICTURE_RGBA, grey_alpha},
        {in + "five.rgba PNG8:palette.png", PICTURE_INDEXED, five},
        {in + "opaque.rgba -interlace PNG PNG24:interlaced.png", PICTURE_RGB, opaque},
        {in + "in.rgba -interlace PNG PNG32:interlaced-alpha.png", PICTURE_RGBA, rgba},
    };
    for (const auto &c : cases) {
        convert(c.args);
        const std::string name = c.args.substr(c.args.rfind(':') + 1);
        const Picture p = decode_file(name);
        EXPECT_EQ(p.kind, c.kind) << name;
        EXPECT_EQ(as_rgba(p), c.want) << name;
    }
    convert(in + "in.rgba -depth 16 PNG64:deep.png");
    EXPECT_EQ(refusal(read_file_bytes(dir.file("deep.png"))), "16-bit channels");
}

TEST(PngHostile, EveryTruncationBadCrcAndCorruptStream) {
    const Bytes png = encode(make_picture(PICTURE_RGB, 6, 4, random_bytes(72, 8)));
    for (size_t n = 0; n < png.size(); ++n)
        EXPECT_EQ(refusal(Bytes(png.begin(), png.begin() + static_cast<long>(n))),
                  n < 8 ? "not a PNG file" : "truncated")
            << n;
    // A flipped bit in IHDR's data, in the image data's CRC, in IEND's CRC.
    const uint32_t idat_length = static_cast<uint32_t>(png[33] << 24 | png[34] << 16 | png[35] << 8 | png[36]);
    for (const size_t at : {size_t{20}, size_t{41} + idat_length, png.size() - 1}) {
        Bytes bad = png;
        bad[at] ^= 0x10;
        EXPECT_EQ(refusal(bad), "bad CRC") << at;
    }
    // A zlib header that is no zlib header, with a CRC that fits.
    Bytes bad = png;
    bad[41] = 0x00;
    put_be32(bad, 41 + idat_length, crc32_of(bad.data() + 37, idat_length + 4));
    EXPECT_EQ(refusal(bad), "corrupt zlib stream");
    EXPECT_EQ(refusal(make_bmp24(2, 2, 1)), "not a PNG file");
}

#if !defined(_WIN32) && !defined(KEGKIT_SANITIZED)
[[noreturn]] void decode_bounded_and_exit(const Bytes &png, const std::string &reason) {
    rlimit limit;
    limit.rlim_cur = limit.rlim_max = 512u << 20;
    setrlimit(RLIMIT_AS, &limit);
    const std::string got = refusal(png);
    if (got != reason) std::fprintf(stderr, "decoded with \"%s\"\n", got.c_str());
    std::exit(got == reason ? 0 : 1);
}
#endif

// Decodes with the address space bounded to 512 MiB, so that a large
// allocation would show as a failure, and expects `reason` ("" to decode).
void expect_within_bounded_memory(const Bytes &png, const std::string &reason) {
#if defined(_WIN32) || defined(KEGKIT_SANITIZED)
    EXPECT_EQ(refusal(png), reason);  // the sanitizers need more address space than that
#else
    EXPECT_EXIT(decode_bounded_and_exit(png, reason), testing::ExitedWithCode(0), "") << reason;
#endif
}

TEST(PngHostile, HeadersThatClaimTooMuchCostNothing) {
    const Bytes small = encode(make_picture(PICTURE_RGB, 2, 2, Bytes(12, 1)));
    EXPECT_EQ(refusal(with_ihdr(small, 0x80000000u, 1, 8, 2)), "dimensions over the PNG limit");
    EXPECT_EQ(refusal(with_ihdr(small, 0, 1, 8, 2)), "zero width or height");
    expect_within_bounded_memory(with_ihdr(small, 0x7FFFFFFF, 0x7FFFFFFF, 8, 2), "picture too large");
    expect_within_bounded_memory(with_ihdr(small, 20000, 20000, 8, 2), "truncated");

    // 64 MiB of zero indices in a file of about 64 KiB: as a picture of
    // 1 GiB it cannot be whole; as one of 6 GiB it is too large; as a small
    // one, the stream past its pixels is never inflated.
    const Picture zeros = make_picture(PICTURE_INDEXED, 8192, 8192, Bytes(8192 * 8192, 0));
    const Bytes bomb = encode(zeros, PngOptions{12, PNG_FILTER_NONE});
    ASSERT_LT(bomb.size(), 100u << 10);
    expect_within_bounded_memory(with_ihdr(bomb, 16384, 16384, 8, 6), "truncated");
    expect_within_bounded_memory(with_ihdr(bomb, 46341, 46341, 8, 2), "picture too large");
    expect_within_bounded_memory(with_ihdr(bomb, 64, 64, 8, 3), "");
}

// A BMP file image as write_bmp writes it.
Bytes written_bmp(const Picture &p) {
    TempDir dir;
    const uint32_t bpp = static_cast<uint32_t>(p.buffer.bytes_per_pixel);
    write_bmp(dir.file("w.bmp"), p.buffer.pixels.get(), p.buffer.size, p.buffer.width, p.buffer.height, bpp,
              p.palette_count, p.palette, 0);
    return read_file_bytes(dir.file("w.bmp"));
}

TEST(BmpImage, WrittenFilesConvertToPngAndBackByteForByte) {
    Picture indexed = make_picture(PICTURE_INDEXED, 5, 3, random_bytes(15, 9));
    indexed.palette_count = 256;
    std::memcpy(indexed.palette, random_bytes(1024, 10).data(), 1024);
    for (uint32_t i = 0; i < 256; ++i) indexed.palette[i * 4 + 3] = 0;
    Picture short_palette = make_picture(PICTURE_INDEXED, 5, 3, Bytes(15, 2));
    short_palette.palette_count = 3;
    std::memcpy(short_palette.palette, "\1\2\3\0\4\5\6\0\7\10\11\0", 12);
    const Picture pictures[] = {make_picture(PICTURE_RGB, 5, 3, random_bytes(45, 11)),
                                make_picture(PICTURE_RGBA, 5, 3, random_bytes(60, 12)), std::move(indexed),
                                std::move(short_palette)};
    for (const Picture &want : pictures) {
        const Bytes file = written_bmp(want);
        Picture bmp;
        std::string error;
        ASSERT_TRUE(decode_bmp_image(file.data(), file.size(), bmp, error)) << error;
        expect_same_picture(bmp, want);
        EXPECT_EQ(bmp.palette_count, want.palette_count);
        EXPECT_EQ(0, std::memcmp(bmp.palette, want.palette, sizeof want.palette));

        const Bytes png = encode(bmp);
        Picture back;
        ASSERT_TRUE(decode_png(png.data(), png.size(), back, error)) << error;
        Bytes again;
        encode_bmp_image(back, again);
        EXPECT_EQ(again, file) << want.kind;
    }
}

TEST(BmpImage, HeaderVariantsGiveTheSamePicture) {
    const Picture want = make_picture(PICTURE_RGB, 3, 4, random_bytes(36, 13));
    const Bytes file = written_bmp(want);
    Bytes top_down(file.begin(), file.begin() + 54);
    put_le32(top_down, 22, static_cast<uint32_t>(-4));
    for (int row = 3; row >= 0; --row)
        top_down.insert(top_down.end(), file.begin() + 54 + row * 12, file.begin() + 66 + row * 12);
    Bytes v5 = file;  // a 124-byte information header
    v5.insert(v5.begin() + 54, 84, 0);
    put_le32(v5, 14, 124);
    put_le32(v5, 10, 54 + 84);
    put_le32(v5, 2, static_cast<uint32_t>(v5.size()));
    for (const Bytes &f : {top_down, v5}) {
        Picture got;
        std::string error;
        ASSERT_TRUE(decode_bmp_image(f.data(), f.size(), got, error)) << error;
        expect_same_picture(got, want);
    }
}

TEST(BmpImage, ColourTablesAsFarAsTheFileHoldsThem) {
    Picture want = make_picture(PICTURE_INDEXED, 4, 2, Bytes{0, 1, 2, 1, 2, 1, 0, 0});
    want.palette_count = 3;
    std::memcpy(want.palette, "\1\2\3\0\4\5\6\0\7\10\11\0", 12);
    Bytes file = written_bmp(want);  // 3 entries before the pixels, biClrUsed 0
    for (const uint32_t used : {0u, 2u, 3u}) {
        put_le32(file, 46, used);
        Picture got;
        std::string error;
        ASSERT_TRUE(decode_bmp_image(file.data(), file.size(), got, error)) << error;
        EXPECT_EQ(got.palette_count, used == 0 ? 3u : used);
        EXPECT_EQ(pixels_of(got), pixels_of(want));
    }
}

TEST(BmpImage, RefusesWhatItCannotConvert) {
    const Bytes file = written_bmp(make_picture(PICTURE_RGB, 3, 2, random_bytes(18, 14)));
    const struct {
        size_t at;
        uint32_t value;  // written as 32 bits, or 16 at 26 and 28
        const char *reason;
    } cases[] = {
        {0, 0x4D42 + 1, "not a BMP file"},
        {14, 12, "unsupported BMP header"},
        {26, 2, "bad plane count"},
        {28, 16, "16-bit BMP"},
        {28, 4, "4-bit BMP"},
        {30, 1, "compressed BMP"},
        {30, 3, "bit-field BMP"},
        {18, 0, "bad dimensions"},
        {18, 0xFFFFFFFDu, "bad dimensions"},
        {22, 0, "bad dimensions"},
        {10, 20, "bad pixel offset"},
        {18, 0x40000000u, "picture too large"},
        {10, 55, "shorter than its rows"},
    };
    for (const auto &c : cases) {
        Bytes bad = file;
        if (c.at == 26 || c.at == 28 || c.at == 0) {
            bad[c.at] = static_cast<uint8_t>(c.value);
            bad[c.at + 1] = static_cast<uint8_t>(c.value >> 8);
        } else {
            put_le32(bad, c.at, c.value);
        }
        Picture p;
        std::string error;
        EXPECT_FALSE(decode_bmp_image(bad.data(), bad.size(), p, error)) << c.reason;
        EXPECT_EQ(error, c.reason);
    }
    Picture p;
    std::string error;
    EXPECT_FALSE(decode_bmp_image(file.data(), 40, p, error));
    EXPECT_EQ(error, "truncated header");
    EXPECT_FALSE(decode_bmp_image(file.data(), file.size() - 1, p, error));
    EXPECT_EQ(error, "shorter than its rows");
}

}  // namespace
