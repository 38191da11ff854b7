#include "bench_data.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

namespace {

uint32_t le32(const Bytes &b, size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

void put32(Bytes &b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

std::vector<BenchPicture> load_picture_set() {
    const char *env = std::getenv("KEGKIT_BENCH_DATA");
    const fs::path dir = env ? env : "build/bench-data";
    std::vector<BenchPicture> set;
    if (fs::is_directory(dir)) {
        for (const auto &e : fs::directory_iterator(dir)) {
            if (e.path().extension() != ".bmp") continue;
            std::ifstream in(e.path(), std::ios::binary);
            BenchPicture p;
            p.file.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
            p.name = e.path().stem().string();
            p.illustration = p.name.rfind("illustration-", 0) == 0;
            p.width = le32(p.file, 18);
            p.height = le32(p.file, 22);
            set.push_back(std::move(p));
        }
    }
    std::sort(set.begin(), set.end(), [](const BenchPicture &a, const BenchPicture &b) { return a.name < b.name; });
    if (set.empty()) {
        std::fprintf(stderr, "no pictures in %s: run bench/make_bench_data.sh first\n", dir.string().c_str());
        std::exit(1);
    }
    return set;
}

uint8_t figure_alpha(uint32_t x, uint32_t y, uint32_t w, uint32_t h, uint32_t seed) {
    // A head and a body, placed by the seed; distance outside the nearest
    // ellipse in pixels gives the antialiased edge.
    const double cx = w * (0.35 + 0.3 * ((seed * 37) % 100) / 100.0);
    const double ellipses[2][4] = {{cx, h * 0.30, w * 0.12, h * 0.18}, {cx, h * 0.85, w * 0.26, h * 0.45}};
    double inside = -1e9;
    for (const auto &e : ellipses) {
        const double dx = (x - e[0]) / e[2], dy = (y - e[1]) / e[3];
        const double r = std::sqrt(dx * dx + dy * dy);
        inside = std::max(inside, (1.0 - r) * std::min(e[2], e[3]));  // pixels inside the edge
    }
    if (inside >= 1.5) return 255;
    if (inside <= -1.5) return 0;
    return static_cast<uint8_t>((inside + 1.5) / 3.0 * 255.0);
}

Bytes make_figure_mask(uint32_t w, uint32_t h, uint32_t seed) {
    const uint32_t stride = (w + 3) & ~3u;
    Bytes b(54 + 1024 + static_cast<size_t>(stride) * h, 0);
    b[0] = 'B';
    b[1] = 'M';
    put32(b, 2, static_cast<uint32_t>(b.size()));
    put32(b, 10, 54 + 1024);
    put32(b, 14, 40);
    put32(b, 18, w);
    put32(b, 22, h);
    b[26] = 1;
    b[28] = 8;
    for (uint32_t k = 0; k < 256; ++k) b[54 + 4 * k] = b[55 + 4 * k] = b[56 + 4 * k] = static_cast<uint8_t>(k);
    for (uint32_t r = 0; r < h; ++r)
        for (uint32_t c = 0; c < w; ++c)  // row r is stored bottom-up: picture row h - 1 - r
            b[54 + 1024 + static_cast<size_t>(r) * stride + c] = static_cast<uint8_t>(255 - figure_alpha(c, h - 1 - r, w, h, seed));
    return b;
}

PixelBuffer pixels_from_bmp(const Bytes &file, int bpp, bool opaque, uint32_t seed, uint32_t crop_w, uint32_t crop_h) {
    const uint32_t w = le32(file, 18), h = le32(file, 22), offset = le32(file, 10);
    const uint32_t src_stride = (3 * w + 3) & ~3u;
    PixelBuffer p;
    p.width = crop_w ? crop_w : w;
    p.height = crop_h ? crop_h : h;
    p.bytes_per_pixel = bpp;
    p.stride = static_cast<int32_t>((p.width * bpp + 3) & ~3u);
    p.size = p.stride * static_cast<int32_t>(p.height);
    p.pixels.reset(new uint8_t[p.size]());
    for (uint32_t r = 0; r < p.height; ++r) {
        for (uint32_t c = 0; c < p.width; ++c) {
            const uint8_t *s = file.data() + offset + static_cast<size_t>(r) * src_stride + 3 * c;
            uint8_t *d = p.pixels.get() + static_cast<size_t>(r) * p.stride + static_cast<size_t>(c) * bpp;
            std::memcpy(d, s, 3);
            if (bpp == 4) d[3] = opaque ? 255 : figure_alpha(c, p.height - 1 - r, p.width, p.height, seed);
        }
    }
    return p;
}
