// repack.cpp: a folder of extracted pictures back into entries. Every .bmp
// and .png file of the folder and its subfolders is a picture, named after
// its path with '\' between the parts, as kegsplit reads entry names (the
// names are checked against the revision once they are encoded). A
// composed picture, "STEM+xXyY" with alpha (a 32-bit BMP file exactly as
// compose_with_mask writes it, or an RGBA PNG file), becomes a 24-bit
// picture and an 8-bit mask (grey palette, alpha = 255 - index); any other
// BMP file is a plain picture written back exactly as stored, any other PNG
// file the BMP file of its pixels.
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <map>

#include "byte_order.h"
#include "file_util.h"
#include "output_tree.h"
#include "packing.h"
#include "platform.h"

namespace {

// A picture file found in the folder.
struct FoundFile {
    std::string relative;  // its path below the folder, parts joined by '\'
    std::string path;      // the path to open and to name in messages
    bool png = false;
};

struct Placement {
    std::string stem;
    int32_t x = 0, y = 0;
};

// Reads a whole number at `at`, as "%d" prints it; false for anything else.
bool read_number(const std::string &text, size_t &at, int32_t &value) {
    const char *first = text.data() + at, *last = text.data() + text.size();
    const auto [end, failure] = std::from_chars(first, last, value);
    if (failure != std::errc() || end == first) return false;
    at += static_cast<size_t>(end - first);
    return true;
}

// Whether `key` (a picture's name without its extension) ends in the
// placement suffix that kegsplit gives a composed picture's file name.
bool parse_placement(const std::string &key, Placement &p) {
    const size_t plus = key.rfind("+x");
    if (plus == std::string::npos) return false;
    size_t at = plus + 2;
    if (!read_number(key, at, p.x) || at >= key.size() || key[at] != 'y') return false;
    ++at;
    if (!read_number(key, at, p.y) || at != key.size()) return false;
    p.stem = key.substr(0, plus);
    return format_string("%s+x%dy%d", p.stem.c_str(), p.x, p.y) == key;
}

// Whether `file` is exactly what compose_with_mask writes: 54-byte headers
// of a 32-bit picture, every other field zero, and its rows alone after them.
bool is_composed_bmp(const std::vector<uint8_t> &file, uint32_t &width, uint32_t &height) {
    if (file.size() < BMP_HEADER_SIZE) return false;
    const uint8_t *h = file.data();
    width = read_le32(h + 18);
    height = read_le32(h + 22);
    if (width > INT32_MAX || height > INT32_MAX) return false;
    const uint64_t size = BMP_HEADER_SIZE + uint64_t{width} * height * 4;
    if (h[0] != 'B' || h[1] != 'M' || read_le32(h + 2) != size || file.size() != size) return false;
    if (read_le32(h + 6) != 0 || read_le32(h + 10) != BMP_HEADER_SIZE || read_le32(h + 14) != 40) return false;
    if (read_le16(h + 26) != 1 || read_le16(h + 28) != 32) return false;
    for (size_t at = 30; at < BMP_HEADER_SIZE; at += 4)
        if (read_le32(h + at) != 0) return false;
    return true;
}

std::vector<uint8_t> bmp_headers(uint32_t w, uint32_t h, uint16_t bits, uint32_t palette, uint64_t image) {
    std::vector<uint8_t> b(BMP_HEADER_SIZE + palette, 0);
    b[0] = 'B';
    b[1] = 'M';
    // A picture of no pixels must not read as a bogus image (file size 54).
    const uint64_t file_size = BMP_HEADER_SIZE + palette + image;
    write_le32(b.data() + 2, file_size == BMP_HEADER_SIZE ? 0 : static_cast<uint32_t>(file_size));
    write_le32(b.data() + 10, BMP_HEADER_SIZE + palette);
    write_le32(b.data() + 14, 40);
    write_le32(b.data() + 18, w);
    write_le32(b.data() + 22, h);
    write_le16(b.data() + 26, 1);
    write_le16(b.data() + 28, bits);
    return b;
}

// The entry name whose stem is `stem`: the stem alone, or with ".bmp" when
// its last part is empty or holds a dot of its own.
std::string entry_name_for(const std::string &stem) {
    const std::string last =
        stem.substr(stem.find_last_of('\\') == std::string::npos ? 0 : stem.find_last_of('\\') + 1);
    return last.empty() || last.find('.') != std::string::npos ? stem + ".bmp" : stem;
}

// Adds every .bmp and .png file below `folder` (`relative` below the
// top folder, "" for the top itself) to `found`. Links to folders are not
// followed: a link back up would never end.
bool find_pictures_below(const std::string &folder, const std::string &relative, std::vector<FoundFile> &found,
                         std::string &error) {
    std::vector<FolderEntry> entries;
    if (!platform_list_folder(folder, entries)) {
        error = "cannot list " + folder + " (" + platform_error_text(errno) + ")";
        return false;
    }
    for (const FolderEntry &e : entries) {
        const std::string path = join_path(folder, e.name);
        const std::string below = relative.empty() ? e.name : relative + "\\" + e.name;
        if (e.kind == PATH_FOLDER && !find_pictures_below(path, below, found, error)) return false;
        if (e.kind != PATH_FILE) continue;
        FoundFile f;
        f.relative = below;
        f.png = has_extension(f.relative, ".png");
        if (!f.png && !has_extension(f.relative, ".bmp")) continue;
        f.path = path;
        found.push_back(std::move(f));
    }
    return true;
}

// Every .bmp and .png file below `folder`, in the byte order of their
// relative names.
bool find_pictures(const std::string &folder, std::vector<FoundFile> &found, std::string &error) {
    if (!find_pictures_below(folder, "", found, error)) return false;
    std::sort(found.begin(), found.end(),
              [](const FoundFile &a, const FoundFile &b) { return a.relative < b.relative; });
    return true;
}

struct Repack {
    const ArchiveLayout *layout = nullptr;
    PackMode mode = MODE_SMALLEST;
    std::vector<PackEntry> plain;
    // Groups of composed pictures, each its mask and then its pictures, in
    // the order they first appear; and the groups at each placement.
    std::vector<std::vector<PackEntry>> groups;
    std::map<std::pair<int32_t, int32_t>, std::vector<size_t>> groups_at;
};

// A composed picture of bottom-up rows of width x 4 bytes (blue, green,
// red, alpha) as a 24-bit picture in the group of its placement and mask.
bool add_composed(Repack &r, const FoundFile &f, const Placement &p, const uint8_t *pixels, uint32_t w, uint32_t h,
                  std::string &error) {
    const std::string name = entry_name_for(p.stem);
    const uint64_t stride = (3 * uint64_t{w} + 3) & ~uint64_t{3}, mask_stride = (uint64_t{w} + 3) & ~uint64_t{3};
    const uint64_t picture_size = BMP_HEADER_SIZE + stride * h, mask_size = BMP_HEADER_SIZE + 1024 + mask_stride * h;
    if (!check_entry_size(f.path, picture_size, *r.layout, error) ||
        !check_entry_size(f.path, mask_size, *r.layout, error))
        return false;
    PackEntry picture{name, false, 0, 0, bmp_headers(w, h, 24, 0, stride * h), r.mode, f.path};
    picture.data.resize(static_cast<size_t>(picture_size), 0);
    std::vector<uint8_t> mask = bmp_headers(w, h, 8, 1024, mask_stride * h);
    for (uint32_t k = 0; k < 256; ++k) mask[54 + 4 * k] = mask[55 + 4 * k] = mask[56 + 4 * k] = static_cast<uint8_t>(k);
    mask.resize(static_cast<size_t>(mask_size), 0);
    for (uint32_t row = 0; row < h; ++row) {
        uint8_t *to = picture.data.data() + BMP_HEADER_SIZE + row * stride;
        uint8_t *alpha = mask.data() + BMP_HEADER_SIZE + 1024 + row * mask_stride;
        const uint8_t *px = pixels + size_t{row} * w * 4;
        for (uint32_t col = 0; col < w; ++col, px += 4) {
            std::copy(px, px + 3, to + 3 * col);
            alpha[col] = static_cast<uint8_t>(255 - px[3]);
        }
    }
    std::vector<size_t> &here = r.groups_at[{p.x, p.y}];
    auto same = std::find_if(here.begin(), here.end(), [&](size_t g) { return r.groups[g][0].data == mask; });
    size_t group;
    if (same != here.end()) {
        group = *same;
    } else {
        group = r.groups.size();
        here.push_back(group);
        std::string mask_name = "m";
        mask_name += std::to_string(group + 1);
        PackEntry m{mask_name, true, p.x, p.y, std::move(mask), r.mode, f.path};
        r.groups.push_back({std::move(m)});
    }
    r.groups[group].push_back(std::move(picture));
    return true;
}

bool add_file(Repack &r, const FoundFile &f, std::string &error) {
    const std::string key = f.relative.substr(0, f.relative.size() - 4);
    Placement placement;
    const bool placed = parse_placement(key, placement);
    std::vector<uint8_t> bytes;
    // Only a composed picture or a PNG file may shrink on its way into entries.
    if (!read_picture_file(f.path, *r.layout, !f.png && !placed, bytes, error)) return false;
    PackEntry plain{entry_name_for(key), false, 0, 0, {}, r.mode, f.path};
    if (!f.png) {
        uint32_t w, h;
        if (placed && is_composed_bmp(bytes, w, h))
            return add_composed(r, f, placement, bytes.data() + BMP_HEADER_SIZE, w, h, error);
        if (!check_entry_size(f.path, bytes.size(), *r.layout, error)) return false;
        plain.data = std::move(bytes);
    } else {
        Picture picture;
        if (!decode_png_file(f.path, bytes, picture, error)) return false;
        bytes = std::vector<uint8_t>();
        const PixelBuffer &b = picture.buffer;
        if (placed && picture.kind == PICTURE_RGBA)
            return add_composed(r, f, placement, b.pixels.get(), b.width, b.height, error);
        if (!picture_to_bmp(f.path, picture, *r.layout, plain.data, error)) return false;
    }
    r.plain.push_back(std::move(plain));
    return true;
}

}  // namespace

bool repack_folder(const std::string &folder, const ArchiveLayout &layout, PackMode mode,
                   std::vector<PackEntry> &entries, size_t &split, std::string &error) {
    std::vector<FoundFile> found;
    if (!find_pictures(folder, found, error)) return false;
    if (found.empty()) {
        error = folder + " holds no pictures (.bmp or .png files)";
        return false;
    }
    // Two files of one name but for the extension would extract to one file.
    std::map<std::string, const FoundFile *> by_key;
    for (const FoundFile &f : found) {
        const auto [at, fresh] = by_key.emplace(f.relative.substr(0, f.relative.size() - 4), &f);
        if (!fresh) {
            error = at->second->path + " and " + f.path + " are one picture in an archive (keep one of them)";
            return false;
        }
    }
    Repack r;
    r.layout = &layout;
    r.mode = mode;
    for (const FoundFile &f : found)
        if (!add_file(r, f, error)) return false;
    split = 0;
    for (const auto &[placement, groups] : r.groups_at) split += groups.size() > 1 ? 1 : 0;
    for (PackEntry &e : r.plain) entries.push_back(std::move(e));
    for (std::vector<PackEntry> &g : r.groups)
        for (PackEntry &e : g) entries.push_back(std::move(e));
    return true;
}
