// make_bench_inputs.cpp: the inputs of the end-to-end benchmarks, made from
// the benchmark picture set.
//   make_bench_inputs archive DIR MIB   a 2.13 archive of at least MIB MiB of
//       decoded pictures (LZSS, run-length and stored entries; the last third
//       under a mask) as DIR/bench.cgf; prints the decoded bytes and the
//       decode-only throughput of its entries, measured in memory, and the
//       time decode_lzss and the plain ring-window decoder take on all its
//       LZSS entries (best of five, taken in turn)
//   make_bench_inputs events DIR N [EXTRA [small]]   N events for palimp in
//       DIR: bases at 1280x720 (64x48 with "small"), figure deltas with
//       placements, evinfo.bin, EXTRA unrelated files beside them, and
//       DIR.events listing "event base delta x y" for other tools
//   make_bench_inputs write-copy SRC DST   reads every .bmp file below SRC, then
//       writes each into DST with one write, and prints the time the
//       writes took (creating, writing and closing each file)
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "bench_data.h"
#include "decoders.h"
#include "encoders.h"
#include "reference_decoders.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

Bytes bmp32_file(const PixelBuffer &p) {
    Bytes f(54, 0);
    f[0] = 'B';
    f[1] = 'M';
    put_le32(f, 2, static_cast<uint32_t>(54 + p.size));
    put_le32(f, 10, 54);
    put_le32(f, 14, 40);
    put_le32(f, 18, p.width);
    put_le32(f, 22, p.height);
    f[26] = 1;
    f[28] = 32;
    f.insert(f.end(), p.pixels.get(), p.pixels.get() + p.size);
    return f;
}

int make_archive(const std::string &dir, uint64_t mib) {
    const std::vector<BenchPicture> set = load_picture_set();
    std::vector<TestEntry> entries;
    uint64_t decoded = 0;
    for (int round = 0; decoded < (mib << 20); ++round) {
        for (size_t i = 0; i < set.size() && decoded < (mib << 20); ++i) {
            const TestPackMode mode = i % 6 == 5 ? PACK_RLE : i % 6 == 4 ? PACK_STORED : PACK_LZSS;
            char name[64];
            std::snprintf(name, sizeof name, "p%d-%zu.bmp", round % 1000, i % 1000);
            entries.push_back({name, false, 0, 0, set[i].file, mode});
            decoded += set[i].file.size();
        }
    }
    // The last third of the pictures come after a mask (1920x1080 ones fit it).
    const size_t masked_from = entries.size() * 2 / 3;
    entries.insert(entries.begin() + static_cast<long>(masked_from),
                   TestEntry{"mask", true, 120, 40, make_figure_mask(1920, 1080, 7), PACK_LZSS});

    // Pack once with the greedy encoder (build_archive's own LZSS encoder is
    // for small test data), by handing it stored bytes we frame ourselves.
    Bytes archive(4 + entries.size() * 20, 0);
    put_le32(archive, 0, static_cast<uint32_t>(entries.size()));
    double decode_seconds = 0;
    std::vector<std::pair<Bytes, size_t>> lzss_entries;  // packed bytes, decoded size
    for (size_t n = 0; n < entries.size(); ++n) {
        const TestEntry &e = entries[n];
        Bytes packed;
        uint32_t flags = static_cast<uint32_t>(e.data.size());
        if (e.mode == PACK_LZSS) {
            packed = encode_lzss_greedy(e.data.data(), e.data.size());
            lzss_entries.emplace_back(packed, e.data.size());
        }
        if (e.mode == PACK_RLE) packed = encode_rle_simple(e.data), flags |= 0x80000000u;
        if (e.mode == PACK_STORED) packed = e.data, flags |= 0x40000000u;
        // Decode-only time of this entry, as the extractor decodes it.
        Bytes out(e.data.size());
        const auto t0 = std::chrono::steady_clock::now();
        size_t got = 0;
        if (e.mode == PACK_LZSS) got = decode_lzss(out.data(), out.size(), packed.data(), packed.size());
        if (e.mode == PACK_RLE) got = decode_rle(out.data(), out.size(), packed.data(), packed.size());
        if (e.mode == PACK_STORED) std::memcpy(out.data(), packed.data(), got = packed.size());
        decode_seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        if (got != out.size() || out != e.data) {
            std::fprintf(stderr, "entry %zu does not decode back\n", n);
            return 1;
        }
        std::memcpy(archive.data() + 4 + n * 20, e.name.data(), e.name.size());
        put_le32(archive, 4 + n * 20 + 16, static_cast<uint32_t>(archive.size()) | (e.mask ? 0x80000000u : 0));
        if (e.mask) {
            Bytes header(16, 0);
            put_le32(header, 0, static_cast<uint32_t>(e.x));
            put_le32(header, 4, static_cast<uint32_t>(e.y));
            archive.insert(archive.end(), header.begin(), header.end());
        }
        Bytes frame(5, 0);
        put_le32(frame, 1, static_cast<uint32_t>(packed.size()));
        archive.insert(archive.end(), frame.begin(), frame.end());
        archive.insert(archive.end(), packed.begin(), packed.end());
        Bytes trailer(20, 0);
        put_le32(trailer, 16, flags);
        archive.insert(archive.end(), trailer.begin(), trailer.end());
    }
    double lzss_seconds[2] = {1e30, 1e30};
    Bytes scratch;
    for (int round = 0; round < 5; ++round) {
        for (int k = 0; k < 2; ++k) {
            const auto t0 = std::chrono::steady_clock::now();
            for (const auto &[packed, size] : lzss_entries) {
                if (scratch.size() < size) scratch.resize(size);
                (k == 0 ? decode_lzss : reference_decode_lzss)(scratch.data(), size, packed.data(), packed.size());
            }
            lzss_seconds[k] =
                std::min(lzss_seconds[k], std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
        }
    }
    fs::create_directories(dir);
    write_file_bytes(dir + "/bench.cgf", archive);
    size_t largest = 0, mask_bytes = 0;
    for (const TestEntry &e : entries) (e.mask ? mask_bytes : largest) = std::max(e.mask ? mask_bytes : largest, e.data.size());
    std::printf("entries %zu decoded_bytes %llu archive_bytes %zu decode_only_seconds %.4f decode_only_mb_per_s %.1f "
                "largest_picture_bytes %zu mask_bytes %zu lzss_entries %zu lzss_seconds %.4f lzss_reference_seconds %.4f\n",
                entries.size(), static_cast<unsigned long long>(decoded), archive.size(), decode_seconds,
                decoded / decode_seconds / 1e6, largest, mask_bytes, lzss_entries.size(), lzss_seconds[0], lzss_seconds[1]);
    return 0;
}

// Small pictures: a 64 x 48 base and 16 x 12 deltas, where the search, not
// the pixels, dominates a record's time.
BenchPicture small_picture(const BenchPicture &p) {
    BenchPicture q;
    q.name = p.name + "-small";
    q.width = 64;
    q.height = 48;
    q.file = make_bmp24(64, 48, static_cast<uint32_t>(p.file[100]));
    return q;
}

int make_events(const std::string &dir, int count, int extra, bool small) {
    std::vector<BenchPicture> set = load_picture_set();
    std::vector<BenchPicture> small_set;
    std::vector<const BenchPicture *> bases;
    for (const BenchPicture &p : set)
        if (p.width == 1280) small_set.push_back(small_picture(p));
    for (const BenchPicture &p : small ? small_set : set)
        if (p.width == (small ? 64u : 1280u)) bases.push_back(&p);
    const uint32_t dw = small ? 16 : 400, dh = small ? 12 : 300;
    fs::create_directories(dir);
    std::FILE *list = std::fopen((dir + "/../" + fs::path(dir).filename().string() + ".events").c_str(), "w");
    for (size_t b = 0; b < bases.size(); ++b) {
        char base_file[64];
        std::snprintf(base_file, sizeof base_file, "/bg%zu.bmp", b);
        write_file_bytes(dir + base_file, bases[b]->file);
    }
    std::vector<TestEvent> events;
    for (int i = 0; i < count; ++i) {
        const BenchPicture &base = *bases[i % bases.size()];
        const PixelBuffer delta = pixels_from_bmp(base.file, 4, false, static_cast<uint32_t>(i), dw, dh);
        const int x = small ? (i * 7) % 40 : 100 + (i * 37) % 700, y = small ? (i * 5) % 30 : 50 + (i * 53) % 350;
        char name[64], file[128], event[64], base_name[64];
        std::snprintf(name, sizeof name, "fc%d", i);
        std::snprintf(file, sizeof file, "/fc%d+x%dy%d.bmp", i, x, y);
        std::snprintf(event, sizeof event, "ev%d", i);
        std::snprintf(base_name, sizeof base_name, "bg%zu", i % bases.size());
        write_file_bytes(dir + file, bmp32_file(delta));
        events.push_back({event, base_name, name});
        if (list) std::fprintf(list, "%s %s.bmp %s %d %d\n", event, base_name, file + 1, x, y);
    }
    if (list) std::fclose(list);
    write_file_bytes(dir + "/evinfo.bin", make_event_table(events));
    for (int i = 0; i < extra; ++i) {
        char other[64];
        std::snprintf(other, sizeof other, "/other%d.dat", i);
        write_file_bytes(dir + other, Bytes{});
    }
    return 0;
}

int write_copy(const std::string &src, const std::string &dst) {
    std::vector<std::pair<std::string, Bytes>> files;
    for (const auto &e : fs::recursive_directory_iterator(src))
        if (e.is_regular_file() && e.path().extension() == ".bmp")
            files.emplace_back(e.path().lexically_relative(src).string(), read_file_bytes(e.path().string()));
    for (const auto &f : files) fs::create_directories(fs::path(dst) / fs::path(f.first).parent_path());
    uint64_t bytes = 0;
    const auto t0 = std::chrono::steady_clock::now();
    for (const auto &[name, data] : files) {
        const int fd = open((dst + "/" + name).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || write(fd, data.data(), data.size()) != static_cast<ssize_t>(data.size()) || close(fd) != 0) {
            std::fprintf(stderr, "cannot write %s\n", name.c_str());
            return 1;
        }
        bytes += data.size();
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::printf("files %zu bytes %llu write_seconds %.4f\n", files.size(), static_cast<unsigned long long>(bytes), seconds);
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc >= 4 && std::strcmp(argv[1], "write-copy") == 0) return write_copy(argv[2], argv[3]);
    if (argc >= 4 && std::strcmp(argv[1], "archive") == 0) return make_archive(argv[2], std::strtoull(argv[3], nullptr, 10));
    if (argc >= 4 && std::strcmp(argv[1], "events") == 0)
        return make_events(argv[2], std::atoi(argv[3]), argc > 4 ? std::atoi(argv[4]) : 0,
                           argc > 5 && std::strcmp(argv[5], "small") == 0);
    std::fprintf(stderr, "usage: %s archive DIR MIB | events DIR N [EXTRA [small]] | write-copy SRC DST\n", argv[0]);
    return 1;
}
