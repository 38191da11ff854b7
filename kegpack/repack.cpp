// repack.cpp: a folder of kegsplit's outputs back into entries. A 32-bit
// "STEM+xXyY.bmp" file as compose_with_mask writes it becomes a 24-bit
// picture and an 8-bit mask (grey palette, alpha = 255 - index); any other
// ".bmp" file is a plain picture, written back exactly as stored.
#include <algorithm>
#include <filesystem>
#include <map>

#include "byte_order.h"
#include "file_util.h"
#include "kegpack.h"

namespace fs = std::filesystem;

namespace {

struct Composed {
    std::string stem;
    int32_t x, y;
    uint32_t width, height;
};

// Whether `file` is exactly what compose_with_mask writes under `name`.
bool parse_composed(const std::string &name, const std::vector<uint8_t> &file, Composed &c) {
    const size_t plus = name.rfind("+x");
    if (plus == std::string::npos || name.size() < 4 || name.compare(name.size() - 4, 4, ".bmp") != 0) return false;
    int x = 0, y = 0;
    char tail;
    if (std::sscanf(name.c_str() + plus, "+x%dy%d.bm%c", &x, &y, &tail) != 3) return false;
    c.stem = name.substr(0, plus);
    if (format_string("%s+x%dy%d.bmp", c.stem.c_str(), x, y) != name) return false;
    if (file.size() < 54) return false;
    const uint8_t *h = file.data();
    c.x = x;
    c.y = y;
    c.width = read_le32(h + 18);
    c.height = read_le32(h + 22);
    if (c.width > INT32_MAX || c.height > INT32_MAX) return false;
    const uint64_t size = 54 + uint64_t{c.width} * c.height * 4;
    if (h[0] != 'B' || h[1] != 'M' || read_le32(h + 2) != size || file.size() != size) return false;
    if (read_le32(h + 6) != 0 || read_le32(h + 10) != 54 || read_le32(h + 14) != 40) return false;
    if (read_le16(h + 26) != 1 || read_le16(h + 28) != 32) return false;
    for (size_t at = 30; at < 54; at += 4)
        if (read_le32(h + at) != 0) return false;
    return true;
}

std::vector<uint8_t> bmp_headers(uint32_t w, uint32_t h, uint16_t bits, uint32_t palette, uint32_t image) {
    std::vector<uint8_t> b(54 + palette, 0);
    b[0] = 'B';
    b[1] = 'M';
    // A picture of no pixels must not read as a bogus image (file size 54).
    const uint32_t file_size = 54 + palette + image;
    write_le32(b.data() + 2, file_size == 54 ? 0 : file_size);
    write_le32(b.data() + 10, 54 + palette);
    write_le32(b.data() + 14, 40);
    write_le32(b.data() + 18, w);
    write_le32(b.data() + 22, h);
    write_le16(b.data() + 26, 1);
    write_le16(b.data() + 28, bits);
    return b;
}

// The entry name whose stem is `stem`: the stem alone, or with ".bmp" when
// the stem is empty or holds a dot of its own.
std::string entry_name_for(const std::string &stem) {
    return stem.empty() || stem.find('.') != std::string::npos ? stem + ".bmp" : stem;
}

}  // namespace

bool repack_folder(const std::string &folder, const ArchiveLayout &layout, PackMode mode,
                   std::vector<PackEntry> &entries, std::string &error) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto &e : fs::directory_iterator(folder, ec))
        if (e.is_regular_file() && e.path().extension() == ".bmp") names.push_back(e.path().filename().string());
    if (ec) {
        error = "cannot list " + folder;
        return false;
    }
    std::sort(names.begin(), names.end());

    std::vector<PackEntry> plain;
    // Groups by placement and alpha channel, in the order they first appear.
    std::map<std::pair<std::pair<int32_t, int32_t>, std::vector<uint8_t>>, size_t> group_of;
    std::vector<std::vector<PackEntry>> groups;
    for (const std::string &name : names) {
        std::vector<uint8_t> file;
        if (!read_whole_file((fs::path(folder) / name).string(), file, error)) return false;
        Composed c;
        if (!parse_composed(name, file, c)) {
            plain.push_back({entry_name_for(name.substr(0, name.size() - 4)), false, 0, 0, std::move(file), mode});
            continue;
        }
        const uint32_t w = c.width, h = c.height;
        const uint32_t stride = (3 * w + 3) & ~3u, mask_stride = (w + 3) & ~3u;
        PackEntry picture{entry_name_for(c.stem), false, 0, 0, bmp_headers(w, h, 24, 0, stride * h), mode};
        picture.data.resize(54 + size_t{stride} * h, 0);
        std::vector<uint8_t> mask = bmp_headers(w, h, 8, 1024, mask_stride * h);
        for (uint32_t k = 0; k < 256; ++k) mask[54 + 4 * k] = mask[55 + 4 * k] = mask[56 + 4 * k] = static_cast<uint8_t>(k);
        mask.resize(54 + 1024 + size_t{mask_stride} * h, 0);
        for (uint32_t r = 0; r < h; ++r) {
            for (uint32_t col = 0; col < w; ++col) {
                const uint8_t *px = file.data() + 54 + (size_t{r} * w + col) * 4;
                std::copy(px, px + 3, picture.data.begin() + 54 + size_t{r} * stride + 3 * col);
                mask[54 + 1024 + size_t{r} * mask_stride + col] = static_cast<uint8_t>(255 - px[3]);
            }
        }
        auto key = std::make_pair(std::make_pair(c.x, c.y), mask);
        auto found = group_of.find(key);
        if (found == group_of.end()) {
            found = group_of.emplace(std::move(key), groups.size()).first;
            std::string mask_name = "m";
            mask_name += std::to_string(groups.size() + 1);
            PackEntry m{mask_name, true, c.x, c.y, std::move(mask), mode};
            groups.push_back({std::move(m)});
        }
        groups[found->second].push_back(std::move(picture));
    }
    for (PackEntry &e : plain) entries.push_back(std::move(e));
    for (std::vector<PackEntry> &g : groups)
        for (PackEntry &e : g) entries.push_back(std::move(e));
    for (const PackEntry &e : entries) {
        if (e.mode == MODE_STORED && !layout.stored_bit) {
            error = std::string("revision ") + revision_of_layout(layout) + " has no stored mode";
            return false;
        }
    }
    return true;
}
