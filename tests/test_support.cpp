#include "test_support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>

#include "bmp.h"
#include "decoders.h"

namespace fs = std::filesystem;

Bytes encode_lzss_literals(const Bytes &data) {
    Bytes out;
    for (size_t i = 0; i < data.size(); i += 8) {
        const size_t n = std::min<size_t>(8, data.size() - i);
        out.push_back(static_cast<uint8_t>((1u << n) - 1));
        out.insert(out.end(), data.begin() + i, data.begin() + i + n);
    }
    return out;
}

Bytes encode_lzss_simple(const Bytes &data) {
    // Window model: byte t of the output sits at window position (4078 + t) % 4096;
    // positions never written hold zero.
    Bytes out;
    size_t pos = 0;
    while (pos < data.size()) {
        const size_t flag_at = out.size();
        out.push_back(0);
        for (int bit = 0; bit < 8 && pos < data.size(); ++bit) {
            size_t best_len = 0, best_window = 0;
            // Try distances 1..4096 back (which may reach the initial zeros).
            for (size_t distance = 1; distance <= 4096; distance += (distance < 64 ? 1 : 61)) {
                size_t len = 0;
                while (len < 18 && pos + len < data.size()) {
                    const int64_t src = static_cast<int64_t>(pos + len) - static_cast<int64_t>(distance);
                    const uint8_t v = src < 0 ? 0 : data[static_cast<size_t>(src)];
                    if (v != data[pos + len]) break;
                    ++len;
                }
                if (len > best_len) {
                    best_len = len;
                    best_window = (LZSS_START_POSITION + pos - distance) % LZSS_WINDOW_SIZE;
                }
            }
            if (best_len >= 3) {
                out.push_back(static_cast<uint8_t>(best_window & 0xFF));
                out.push_back(static_cast<uint8_t>(((best_window >> 4) & 0xF0) | (best_len - 3)));
                pos += best_len;
            } else {
                out[flag_at] |= static_cast<uint8_t>(1u << bit);
                out.push_back(data[pos++]);
            }
        }
    }
    return out;
}

Bytes encode_rle_simple(const Bytes &data) {
    Bytes out;
    size_t pos = 0;
    while (pos < data.size()) {
        size_t run = 1;
        while (pos + run < data.size() && run < 255 && data[pos + run] == data[pos]) ++run;
        if (run >= 3) {
            out.push_back(static_cast<uint8_t>(run));
            out.push_back(data[pos]);
            pos += run;
            continue;
        }
        size_t lit = 0;
        while (pos + lit < data.size() && lit < 255) {
            if (pos + lit + 2 < data.size() && data[pos + lit] == data[pos + lit + 1] &&
                data[pos + lit] == data[pos + lit + 2])
                break;
            ++lit;
        }
        out.push_back(0);
        out.push_back(static_cast<uint8_t>(lit));
        out.insert(out.end(), data.begin() + pos, data.begin() + pos + lit);
        pos += lit;
    }
    return out;
}

void put_le32(Bytes &b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

uint32_t get_le32(const Bytes &b, size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

static Bytes bmp_headers(int32_t width, int32_t height, uint16_t bits, uint32_t palette_bytes, uint32_t image_bytes) {
    Bytes b(54 + palette_bytes, 0);
    b[0] = 'B';
    b[1] = 'M';
    put_le32(b, 2, 54 + palette_bytes + image_bytes);
    put_le32(b, 10, 54 + palette_bytes);
    put_le32(b, 14, 40);
    put_le32(b, 18, static_cast<uint32_t>(width));
    put_le32(b, 22, static_cast<uint32_t>(height));
    b[26] = 1;
    b[28] = static_cast<uint8_t>(bits);
    b[29] = static_cast<uint8_t>(bits >> 8);
    return b;
}

Bytes make_bmp24(int32_t width, int32_t height, uint32_t seed) {
    const uint32_t stride = (3u * width + 3) & ~3u;
    const uint32_t rows = static_cast<uint32_t>(std::abs(height));
    Bytes b = bmp_headers(width, height, 24, 0, stride * rows);
    for (uint32_t y = 0; y < rows; ++y) {
        for (uint32_t x = 0; x < stride; ++x)
            b.push_back(x < 3u * width ? static_cast<uint8_t>((x * 7 + y * 13 + seed * 31) ^ (x * y)) : 0);
    }
    return b;
}

Bytes make_mask8(int32_t width, int32_t height, uint32_t seed) {
    const uint32_t stride = (width + 3u) & ~3u;
    Bytes b = bmp_headers(width, height, 8, 1024, stride * height);
    for (uint32_t k = 0; k < 256; ++k) b[54 + 4 * k] = b[55 + 4 * k] = b[56 + 4 * k] = static_cast<uint8_t>(k);
    for (int32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < stride; ++x) b.push_back(static_cast<uint8_t>((x * 37 + y * 11 + seed) & 0xFF));
    return b;
}

Bytes make_bmp32(int32_t width, int32_t height, uint32_t seed) {
    Bytes b = bmp_headers(width, height, 32, 0, 4u * width * height);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            const int32_t edge = (x + y + static_cast<int32_t>(seed)) % (width + height);
            const uint8_t alpha = edge < width / 2 ? 0 : edge < width / 2 + 8 ? static_cast<uint8_t>((edge - width / 2) * 32 + 3) : 255;
            b.insert(b.end(), {static_cast<uint8_t>(x * 9 + seed), static_cast<uint8_t>(y * 5 + seed * 3),
                               static_cast<uint8_t>((x ^ y) + seed), alpha});
        }
    }
    return b;
}

Bytes make_event_table(const std::vector<TestEvent> &events) {
    Bytes table(4 + 84 * events.size(), 0);
    put_le32(table, 0, static_cast<uint32_t>(events.size()));
    for (size_t i = 0; i < events.size(); ++i) {
        const std::string *names[3] = {&events[i].event, &events[i].base, &events[i].delta};
        for (int f = 0; f < 3; ++f)
            std::memcpy(table.data() + 4 + 84 * i + 16 * f, names[f]->data(), std::min<size_t>(16, names[f]->size()));
        std::fill(table.begin() + 4 + 84 * i + 48, table.begin() + 4 + 84 * i + 84, 0xEE);  // unused tail
    }
    return table;
}

void reference_blend(uint8_t *base, int base_bpp, const uint8_t *delta, int delta_bpp) {
    const int a = delta_bpp == 4 ? delta[3] : 255;
    const int b = base_bpp == 4 ? base[3] : 255;
    const int k = a + (255 - a) * b / 255;
    volatile double w = 0.0;
    if (k != 0) w = static_cast<double>(a * 255) / static_cast<double>(k);
    volatile double v = 255.0 - w;
    for (int i = 0; i < 3; ++i) {
        volatile double p1 = delta[i] * w;
        volatile double p2 = base[i] * v;
        volatile double s = p1 + p2;
        volatile double q = s / 255.0;
        base[i] = static_cast<uint8_t>(static_cast<int>(q));
    }
    if (base_bpp == 4) base[3] = static_cast<uint8_t>(k);
}

Bytes reference_merge(const Bytes &base_file, const Bytes &delta_file, int dx, int dy) {
    Bytes out = base_file;
    const int bw = static_cast<int>(get_le32(base_file, 18)), bh = static_cast<int>(get_le32(base_file, 22));
    const int bb = base_file[28] / 8;
    const int dw = static_cast<int>(get_le32(delta_file, 18)), dh = static_cast<int>(get_le32(delta_file, 22));
    const int db = delta_file[28] / 8;
    const int bs = (bw * bb + 3) & ~3, ds = (dw * db + 3) & ~3;
    for (int j = 0; j < dh; ++j) {
        for (int i = 0; i < dw; ++i) {
            // Top-down coordinates: delta row (dh - 1 - j) from its top lands on base row dy + that.
            const int base_row_from_top = dy + (dh - 1 - j);
            const int base_row = bh - 1 - base_row_from_top;
            reference_blend(out.data() + 54 + base_row * bs + (dx + i) * bb, bb,
                            delta_file.data() + 54 + j * ds + i * db, db);
        }
    }
    return out;
}

// The 32-bit file that a picture composed with a grey-palette mask gives.
Bytes expected_composed(const Bytes &picture, const Bytes &mask) {
    const int32_t w = static_cast<int32_t>(get_le32(picture, 18));
    const int32_t h = static_cast<int32_t>(get_le32(picture, 22));
    const uint32_t rows = static_cast<uint32_t>(h < 0 ? -h : h);
    const uint32_t sp = (3u * w + 3) & ~3u;
    const uint32_t mw = get_le32(mask, 18);
    const uint32_t sm = (mw + 3) & ~3u;
    Bytes f(54, 0);
    f[0] = 'B';
    f[1] = 'M';
    put_le32(f, 2, 54 + w * rows * 4);
    put_le32(f, 10, 54);
    put_le32(f, 14, 40);
    put_le32(f, 18, static_cast<uint32_t>(w));
    put_le32(f, 22, rows);
    f[26] = 1;
    f[28] = 32;
    std::vector<Bytes> out_rows;
    for (uint32_t r = 0; r < rows; ++r) {
        Bytes row;
        for (int32_t c = 0; c < w; ++c) {
            const size_t p = get_le32(picture, 10) + r * sp + 3 * c;
            const uint8_t k = mask[get_le32(mask, 10) + r * sm + c];
            const uint8_t red = mask[56 + 4 * k];
            row.insert(row.end(), {picture[p], picture[p + 1], picture[p + 2], static_cast<uint8_t>(255 - red)});
        }
        out_rows.push_back(row);
    }
    if (h < 0) std::reverse(out_rows.begin(), out_rows.end());
    for (const Bytes &row : out_rows) f.insert(f.end(), row.begin(), row.end());
    return f;
}

static Bytes pack(const TestEntry &e) {
    switch (e.mode) {
    case PACK_LZSS: return encode_lzss_simple(e.data);
    case PACK_LZSS_LITERALS: return encode_lzss_literals(e.data);
    case PACK_RLE: return encode_rle_simple(e.data);
    case PACK_STORED: return e.data;
    }
    return {};
}

Bytes build_archive(const ArchiveLayout &layout, const std::vector<TestEntry> &entries) {
    const size_t table_end = 4 + entries.size() * layout.entry_size;
    Bytes archive(table_end, 0);
    put_le32(archive, 0, static_cast<uint32_t>(entries.size()));
    // Data of the last entry first: file order is the reverse of table order.
    for (size_t n = entries.size(); n-- > 0;) {
        const TestEntry &e = entries[n];
        const uint32_t position = static_cast<uint32_t>(archive.size());
        uint8_t *record = archive.data() + 4 + n * layout.entry_size;
        std::memcpy(record, e.name.data(), std::min<size_t>(e.name.size(), layout.name_size));
        put_le32(archive, 4 + n * layout.entry_size + layout.offset_field, position | (e.mask ? 0x80000000u : 0));
        if (e.mask) {
            Bytes header(16, 0);
            put_le32(header, 0, static_cast<uint32_t>(e.x));
            put_le32(header, 4, static_cast<uint32_t>(e.y));
            std::fill(header.begin() + 8, header.end(), 0xAB);  // reserved bytes are never read
            archive.insert(archive.end(), header.begin(), header.end());
        }
        const Bytes packed = pack(e);
        uint32_t flags = static_cast<uint32_t>(e.data.size());
        if (e.mode == PACK_RLE) flags |= 0x80000000u;
        if (e.mode == PACK_STORED) flags |= 0x40000000u | (e.both_mode_bits ? 0x80000000u : 0);
        Bytes frame;
        if (layout.trailer_framing) {
            frame.assign(5, 0x5A);
            put_le32(frame, 1, static_cast<uint32_t>(packed.size()));
            frame.insert(frame.end(), packed.begin(), packed.end());
            Bytes trailer(20, 0xCD);
            put_le32(trailer, 16, flags);
            frame.insert(frame.end(), trailer.begin(), trailer.end());
        } else {
            frame.assign(8, 0);
            put_le32(frame, 0, static_cast<uint32_t>(packed.size()));
            put_le32(frame, 4, flags);
            frame.insert(frame.end(), packed.begin(), packed.end());
        }
        archive.insert(archive.end(), frame.begin(), frame.end());
    }
    return archive;
}

uint32_t entry_position(const Bytes &archive, const ArchiveLayout &layout, uint32_t index) {
    return get_le32(archive, 4 + index * layout.entry_size + layout.offset_field) & 0x7FFFFFFFu;
}

std::string whole_line_pattern(const std::string &line) {
    std::string pattern = "^";
    for (char c : line) {
        if (std::strchr("\\.()[]{}*+?^$|", c)) pattern += '\\';
        pattern += c;
    }
    return pattern + "\r?\n$";
}

Bytes read_file_bytes(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_file_bytes(const std::string &path, const Bytes &data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(data.data()), static_cast<std::streamsize>(data.size()));
}

bool file_exists(const std::string &path) {
    std::error_code ec;
    return fs::symlink_status(path, ec).type() != fs::file_type::not_found && !ec;
}

std::vector<std::string> list_tree(const std::string &dir) {
    std::vector<std::string> names;
    for (const auto &entry : fs::recursive_directory_iterator(dir))
        if (!entry.is_directory()) names.push_back(entry.path().lexically_relative(dir).string());
    std::sort(names.begin(), names.end());
    return names;
}

TempDir::TempDir() {
    static std::mt19937_64 rng(std::random_device{}());
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path candidate = fs::temp_directory_path() / ("kegkit-test-" + std::to_string(rng() % 1000000000));
        if (fs::create_directory(candidate)) {
            path = candidate.string();
            return;
        }
    }
    throw std::runtime_error("cannot make a temporary folder");
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path, ec);
}

ScopedChdir::ScopedChdir(const std::string &dir) {
    previous = fs::current_path().string();
    fs::current_path(dir);
}

ScopedChdir::~ScopedChdir() { fs::current_path(previous); }

Bytes bmp_rgba(const std::string &path) {
    PixelBuffer p;
    read_bmp(path, p, BMP_IN_EXPAND_PALETTE);
    Bytes rgba;
    for (uint32_t row = p.height; row-- > 0;) {
        const uint8_t *px = p.pixels.get() + size_t{row} * p.stride;
        for (uint32_t x = 0; x < p.width; ++x, px += p.bytes_per_pixel)
            rgba.insert(rgba.end(), {px[2], px[1], px[0], p.bytes_per_pixel == 4 ? px[3] : uint8_t{255}});
    }
    return rgba;
}
