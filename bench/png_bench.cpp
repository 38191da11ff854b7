// png_bench.cpp: encode_png on the benchmark set, as 24-bit pictures and as
// 32-bit composed pictures (the figure's alpha: large transparent areas),
// for each compression level and filter choice; the speed in input bytes
// per second, the size as a ratio to ImageMagick's PNG of the same picture
// (`mogrify -format png` with its defaults, made once into
// $KEGKIT_BENCH_DATA/png-reference). Then decode_png on our own files, and
// the compressors alone (libdeflate's levels, zlib's fast strategies) on the
// same filtered rows (the average filter throughout), sizes as a ratio to
// libdeflate's level 6 on them.
// Every output is decoded and compared with its picture after timing.
//   counters: ratio_rgb, ratio_rgba, ratio_all (total size over ImageMagick's
//   total), worst (the largest ratio of one picture)
#include <benchmark/benchmark.h>
#include <libdeflate.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "bench_data.h"
#include "platform.h"
#include "png_image.h"

namespace fs = std::filesystem;

namespace {

struct Sample {
    std::string name;
    Picture picture;
    uint64_t magick_size = 0;
    uint64_t input_bytes = 0;  // width x height x bytes per pixel
};

std::vector<Sample> g_samples;
fs::path g_reference;  // ImageMagick's files and the BMP files they were made from

// The pictures as BMP files, ImageMagick's PNG of each, and the samples.
void load_samples() {
    const std::vector<BenchPicture> set = load_picture_set();
    const char *env = std::getenv("KEGKIT_BENCH_DATA");
    const fs::path folder = fs::path(env ? env : "build/bench-data") / "png-reference";
    g_reference = folder;
    fs::create_directories(folder);
    bool missing = false;
    uint32_t seed = 0;
    for (const BenchPicture &p : set) {
        for (const int bpp : {3, 4}) {
            Sample s;
            s.name = p.name + (bpp == 3 ? "-24" : "-32");
            s.picture.kind = bpp == 3 ? PICTURE_RGB : PICTURE_RGBA;
            s.picture.buffer = pixels_from_bmp(p.file, bpp, false, ++seed);
            s.input_bytes = uint64_t{p.width} * p.height * static_cast<uint64_t>(bpp);
            const fs::path bmp = folder / (s.name + ".bmp");
            if (!fs::exists(folder / (s.name + ".png")) || !fs::exists(bmp)) {
                const PixelBuffer &b = s.picture.buffer;
                write_bmp(bmp.string(), b.pixels.get(), b.size, b.width, b.height, static_cast<uint32_t>(bpp), 0);
                missing = true;
            }
            g_samples.push_back(std::move(s));
        }
    }
    if (missing) {
        const std::string command = "cd '" + folder.string() + "' && mogrify -format png *.bmp";
        std::fprintf(stderr, "making ImageMagick's files: %s\n", command.c_str());
        if (std::system(command.c_str()) != 0) {
            std::fprintf(stderr, "ImageMagick failed\n");
            std::exit(1);
        }
    }
    for (Sample &s : g_samples) s.magick_size = fs::file_size(folder / (s.name + ".png"));
}

bool same_picture(const Picture &a, const Picture &b) {
    return a.kind == b.kind && a.buffer.size == b.buffer.size && a.buffer.width == b.buffer.width &&
           std::memcmp(a.buffer.pixels.get(), b.buffer.pixels.get(), static_cast<size_t>(a.buffer.size)) == 0;
}

void encode_all(benchmark::State &state, PngOptions options) {
    std::vector<Bytes> outputs(g_samples.size());
    std::string error;
    for (auto _ : state) {
        for (size_t i = 0; i < g_samples.size(); ++i) {
            if (!encode_png(picture_view(g_samples[i].picture), options, outputs[i], error)) {
                state.SkipWithError(error.c_str());
                return;
            }
        }
    }
    uint64_t input = 0, ours[2] = {}, theirs[2] = {};
    double worst = 0;
    for (size_t i = 0; i < g_samples.size(); ++i) {
        const Sample &s = g_samples[i];
        Picture back;
        if (!decode_png(outputs[i].data(), outputs[i].size(), back, error) || !same_picture(back, s.picture)) {
            state.SkipWithError(("does not decode back: " + s.name).c_str());
            return;
        }
        const int alpha = s.picture.kind == PICTURE_RGBA;
        input += s.input_bytes;
        ours[alpha] += outputs[i].size();
        theirs[alpha] += s.magick_size;
        worst = std::max(worst, static_cast<double>(outputs[i].size()) / static_cast<double>(s.magick_size));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input));
    state.counters["ratio_rgb"] = static_cast<double>(ours[0]) / static_cast<double>(theirs[0]);
    state.counters["ratio_rgba"] = static_cast<double>(ours[1]) / static_cast<double>(theirs[1]);
    state.counters["ratio_all"] = static_cast<double>(ours[0] + ours[1]) / static_cast<double>(theirs[0] + theirs[1]);
    state.counters["worst"] = worst;
}

void decode_all(benchmark::State &state) {
    std::vector<Bytes> files(g_samples.size());
    std::string error;
    uint64_t output = 0;
    for (size_t i = 0; i < g_samples.size(); ++i) {
        encode_png(picture_view(g_samples[i].picture), PngOptions{}, files[i], error);
        output += g_samples[i].input_bytes;
    }
    for (auto _ : state) {
        for (size_t i = 0; i < files.size(); ++i) {
            Picture p;
            if (!decode_png(files[i].data(), files[i].size(), p, error) || !same_picture(p, g_samples[i].picture)) {
                state.SkipWithError("does not decode back");
                return;
            }
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * output));
}

// The filtered rows of each sample, taken back out of a stored (level 0)
// file of ours: its IDAT chunks' data inflated.
std::vector<Bytes> g_filtered;

void load_filtered() {
    std::string error;
    for (const Sample &s : g_samples) {
        Bytes png, stream;
        if (!encode_png(picture_view(s.picture), PngOptions{0, PNG_FILTER_AVERAGE}, png, error)) std::exit(1);
        for (size_t at = 8; at + 12 <= png.size();) {
            const size_t length =
                (size_t{png[at]} << 24) | (size_t{png[at + 1]} << 16) | (png[at + 2] << 8) | png[at + 3];
            if (std::memcmp(&png[at + 4], "IDAT", 4) == 0)
                stream.insert(stream.end(), png.begin() + at + 8, png.begin() + at + 8 + length);
            at += 12 + length;
        }
        const uint32_t bpp = s.picture.kind == PICTURE_RGB ? 3 : 4;
        Bytes rows((size_t{s.picture.buffer.width} * bpp + 1) * s.picture.buffer.height);
        uLongf size = rows.size();
        if (uncompress(rows.data(), &size, stream.data(), stream.size()) != Z_OK || size != rows.size()) std::exit(1);
        g_filtered.push_back(std::move(rows));
    }
}

// One compressor over every sample's filtered rows: `level` 1 to 12 is
// libdeflate's, -1 zlib's run-length strategy, -2 its Huffman coding alone.
size_t compress_rows(int level, const Bytes &rows, Bytes &out) {
    if (level > 0) {
        libdeflate_compressor *c = libdeflate_alloc_compressor(level);
        const size_t size = libdeflate_zlib_compress(c, rows.data(), rows.size(), out.data(), out.size());
        libdeflate_free_compressor(c);
        return size;
    }
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, 15, 8, level == -1 ? Z_RLE : Z_HUFFMAN_ONLY);
    z.next_in = const_cast<uint8_t *>(rows.data());
    z.avail_in = static_cast<uInt>(rows.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    const bool done = deflate(&z, Z_FINISH) == Z_STREAM_END;
    deflateEnd(&z);
    return done ? z.total_out : 0;
}

void compress_all(benchmark::State &state, int level) {
    uint64_t input = 0, output = 0, level6 = 0;
    Bytes out;
    for (auto _ : state) {
        output = 0;
        for (const Bytes &rows : g_filtered) {
            out.resize(rows.size() + rows.size() / 8 + 4096);
            const size_t size = compress_rows(level, rows, out);
            if (size == 0) {
                state.SkipWithError("the compressor failed");
                return;
            }
            output += size;
        }
    }
    for (const Bytes &rows : g_filtered) {
        input += rows.size();
        out.resize(rows.size() + rows.size() / 8 + 4096);
        level6 += compress_rows(6, rows, out);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input));
    state.counters["ratio_level6"] = static_cast<double>(output) / static_cast<double>(level6);
}

// ImageMagick on the same BMP files, into a scratch folder: the baseline for
// the speeds (wall-clock time of the whole run).
void magick_all(benchmark::State &state) {
    const fs::path out = g_reference / "scratch";
    uint64_t input = 0;
    for (const Sample &s : g_samples) input += s.input_bytes;
    for (auto _ : state) {
        fs::remove_all(out);
        fs::create_directories(out);
        const std::string command = "cd '" + g_reference.string() + "' && mogrify -path scratch -format png *.bmp";
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("ImageMagick failed");
            return;
        }
    }
    fs::remove_all(out);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input));
}

std::string filter_name(int filter) {
    if (filter == PNG_FILTER_ALL) return "all";
    static const char *names[] = {"none", "sub", "up", "average", "paeth"};
    std::string name;
    for (int i = 0; i < 5; ++i) {
        if (!(filter & (1 << i))) continue;
        if (!name.empty()) name += '+';
        name += names[i];
    }
    return name;
}

void add(const PngOptions &o) {
    const bool is_default = o.level == PngOptions{}.level && o.filter == PngOptions{}.filter;
    const std::string name =
        "encode/level" + std::to_string(o.level) + "/" + filter_name(o.filter) + (is_default ? " (default)" : "");
    benchmark::RegisterBenchmark(name.c_str(), encode_all, o)->Iterations(1)->Unit(benchmark::kMillisecond);
}

}  // namespace

int main(int argc, char **argv) {
    platform_reuse_large_blocks();  // as kegkit does
    load_samples();
    // The level curve with the default filters, then the filter curve at a
    // fast, the default and a slow level. Level 0 stores: its time is the
    // filtering's and the file's framing.
    for (int level = PNG_LEVEL_MIN; level <= PNG_LEVEL_MAX; ++level) add({level, PngOptions{}.filter});
    const int sub_up_paeth = PNG_FILTER_SUB | PNG_FILTER_UP | PNG_FILTER_PAETH;
    const int filters[] = {PNG_FILTER_NONE,
                           PNG_FILTER_SUB,
                           PNG_FILTER_UP,
                           PNG_FILTER_AVERAGE,
                           PNG_FILTER_PAETH,
                           PNG_FILTER_SUB | PNG_FILTER_PAETH,
                           PNG_FILTER_SUB | PNG_FILTER_UP,
                           sub_up_paeth,
                           PNG_FILTER_ALL};
    for (const int level : {PNG_LEVEL_MIN, 1, 2, PNG_LEVEL_DEFAULT, 9})
        for (const int filter : filters)
            if (filter != PngOptions{}.filter) add({level, filter});
    benchmark::RegisterBenchmark("decode/default-encoded", decode_all)->Iterations(1)->Unit(benchmark::kMillisecond);
    load_filtered();
    for (const int level : {1, 2, 3, 6})
        benchmark::RegisterBenchmark(("compress/libdeflate" + std::to_string(level)).c_str(), compress_all, level)
            ->Iterations(1)
            ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("compress/zlib-rle", compress_all, -1)->Iterations(1)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("compress/zlib-huffman", compress_all, -2)
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("magick/mogrify", magick_all)
        ->Iterations(1)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
