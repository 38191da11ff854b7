// make_corpus.cpp: writes the seed corpora under fuzz/corpus/<harness>/:
// valid archives of each revision, BMPs of each depth, event tables with
// pictures, packed streams. Run it from the source tree's top folder.
#include <cstring>
#include <filesystem>
#include <string>

#include "decoders.h"
#include "png_image.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

void seed(const std::string &harness, const std::string &name, const Bytes &data) {
    const fs::path dir = fs::path("fuzz/corpus") / harness;
    fs::create_directories(dir);
    write_file_bytes((dir / name).string(), data);
}

Bytes with_prefix(std::initializer_list<uint8_t> prefix, const Bytes &rest) {
    Bytes b(prefix);
    b.insert(b.end(), rest.begin(), rest.end());
    return b;
}

Bytes capacity_prefix(size_t capacity, const Bytes &rest) {
    return with_prefix({static_cast<uint8_t>(capacity >> 8), static_cast<uint8_t>(capacity)}, rest);
}

Bytes le16(size_t v) { return {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)}; }

}  // namespace

int main() {
    const Bytes pic = make_bmp24(7, 5, 1), mask = make_mask8(7, 5, 2);
    Bytes text(600);
    for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<uint8_t>("the quick brown fox "[i % 20]);

    seed("lzss_decode", "pic", capacity_prefix(pic.size(), encode_lzss_simple(pic)));
    seed("lzss_decode", "text", capacity_prefix(text.size(), encode_lzss_simple(text)));
    seed("lzss_decode", "doc-vectors", capacity_prefix(64, {0x01, 0x41, 0xEE, 0xF2, 0x00, 0x00, 0x00}));
    seed("rle_decode", "pic", capacity_prefix(pic.size(), encode_rle_simple(pic)));
    seed("rle_decode", "doc-vectors", capacity_prefix(7, {0x03, 0x41, 0x00, 0x02, 0x42, 0x43, 0x00, 0x00, 0x02, 0x44}));

    const ArchiveLayout *layouts[] = {&LAYOUT_2_11, &LAYOUT_2_12, &LAYOUT_2_13};
    const char *names[] = {"v211", "v212", "v213"};
    for (int i = 0; i < 3; ++i) {
        std::vector<TestEntry> entries = {{"bg01.bmp", false, 0, 0, pic, PACK_LZSS},
                                          {"m", true, -3, 4, mask, PACK_RLE},
                                          {"ev01.bmp", false, 0, 0, pic, PACK_LZSS},
                                          {"ev02.bmp", false, 0, 0, make_bmp24(3, -2, 3), PACK_RLE}};
        if (i == 2) entries.push_back({"ev03.bmp", false, 0, 0, pic, PACK_STORED});
        seed("archive_extract", names[i], with_prefix({static_cast<uint8_t>(i)}, build_archive(*layouts[i], entries)));
    }

    seed("mask_compose", "pic-mask",
         with_prefix({static_cast<uint8_t>(pic.size() >> 8), static_cast<uint8_t>(pic.size())}, [&] {
             Bytes b = pic;
             b.insert(b.end(), mask.begin(), mask.end());
             return b;
         }()));

    seed("bmp_read", "24", with_prefix({0}, pic));
    seed("bmp_read", "32", with_prefix({0}, make_bmp32(5, 4, 1)));
    seed("bmp_read", "8", with_prefix({0}, mask));
    seed("bmp_read", "8-expand", with_prefix({0x10}, mask));
    Bytes sixteen = make_bmp24(4, 2, 0);
    sixteen[28] = 16;
    seed("bmp_read", "16", with_prefix({0}, sixteen));
    seed("bmp_read", "top-down", with_prefix({0}, make_bmp24(3, -3, 4)));

    seed("encode_round_trip", "text", text);
    seed("encode_round_trip", "pic", pic);
    for (int i = 0; i < 3; ++i)
        seed("archive_list", names[i],
             with_prefix({static_cast<uint8_t>(i + 1)},
                         build_archive(*layouts[i], {{"bg01.bmp", false, 0, 0, pic, PACK_LZSS},
                                                     {"m", true, 1, 2, mask, PACK_RLE}})));

    const Bytes base = make_bmp24(12, 10, 5), delta = make_bmp32(4, 3, 6);
    Bytes record = make_event_table({{"ev01", "bg01", "fc01"}});
    record.insert(record.end(), {0, 0, 0, 0, 3, 0, 2, 0});  // base at (0, 0), delta at (3, 2)
    const Bytes split = le16(base.size());
    record.insert(record.end(), split.begin(), split.end());
    record.insert(record.end(), base.begin(), base.end());
    record.insert(record.end(), delta.begin(), delta.end());
    seed("merge_record", "ev01", record);

    // PNG files of each kind from our encoder: stored (level 0), so that
    // mutations of the pixels keep the stream whole, and compressed.
    const auto png_seed = [](const std::string &name, PictureKind kind, uint32_t w, uint32_t h, uint32_t bpp,
                             const PngOptions &options) {
        Picture p;
        p.kind = kind;
        p.buffer.width = w;
        p.buffer.height = h;
        p.buffer.bytes_per_pixel = static_cast<int32_t>(bpp);
        p.buffer.stride = static_cast<int32_t>((w * bpp + 3) & ~3u);
        p.buffer.size = p.buffer.stride * static_cast<int32_t>(h);
        p.buffer.pixels.reset(new uint8_t[static_cast<size_t>(p.buffer.size)]());
        for (int32_t i = 0; i < p.buffer.size; ++i) p.buffer.pixels[i] = static_cast<uint8_t>(i * 7 % 5);
        p.palette_count = 3;
        std::memcpy(p.palette, "\10\20\30\0\200\0\0\0\0\0\377\0", 12);
        Bytes png;
        std::string error;
        if (!encode_png(picture_view(p), options, png, error)) std::abort();
        seed("png_read", name, png);
    };
    png_seed("rgb-stored", PICTURE_RGB, 7, 5, 3, {0, PNG_FILTER_NONE});
    png_seed("rgb", PICTURE_RGB, 7, 5, 3, {});
    png_seed("rgba-stored", PICTURE_RGBA, 6, 4, 4, {0, PNG_FILTER_NONE});
    png_seed("rgba-filters", PICTURE_RGBA, 6, 4, 4, {12, PNG_FILTER_ALL});
    png_seed("indexed-stored", PICTURE_INDEXED, 5, 3, 1, {0, PNG_FILTER_NONE});
    png_seed("one-pixel", PICTURE_RGB, 1, 1, 3, {});
    return 0;
}
