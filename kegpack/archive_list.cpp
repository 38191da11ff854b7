// archive_list.cpp: what an archive holds, and which revisions' layouts it
// fits: every entry's framing inside the file and its decoded data starting
// with "BM".
#include <cstdio>
#include <cstring>

#include "byte_order.h"
#include "decoders.h"
#include "kegpack.h"

namespace {

struct Listed {
    ArchiveEntry entry;
    uint32_t packed_size = 0, flags = 0;
    int32_t x = 0, y = 0;
};

// Reads every entry's framing with `layout`; false when any lies outside
// the file or does not decode to a BMP file.
bool read_entries(const std::vector<uint8_t> &a, const ArchiveLayout &layout, std::vector<Listed> &out) {
    if (a.size() < 4) return false;
    const uint64_t count = read_le32(a.data());
    if (4 + count * layout.entry_size > a.size()) return false;
    for (uint32_t i = 0; i < count; ++i) {
        Listed l;
        l.entry = parse_archive_entry(a.data() + 4, i, layout);
        uint64_t at = l.entry.position;
        if (l.entry.is_mask) {
            if (at + 16 > a.size()) return false;
            l.x = read_le32s(a.data() + at);
            l.y = read_le32s(a.data() + at + 4);
            at += 16;
        }
        const uint64_t header = layout.trailer_framing ? 5 : 8, trailer = layout.trailer_framing ? 20 : 0;
        if (at + header > a.size()) return false;
        l.packed_size = read_le32(a.data() + at + (layout.trailer_framing ? 1 : 0));
        const uint64_t packed_at = at + header;
        if (packed_at + l.packed_size + trailer > a.size()) return false;
        l.flags = layout.trailer_framing ? read_le32(a.data() + packed_at + l.packed_size + 16) : read_le32(a.data() + at + 4);
        const uint8_t *packed = a.data() + packed_at;
        uint8_t start[2] = {0, 0};
        if ((l.flags & layout.length_mask) < 2) return false;
        if (l.flags & layout.stored_bit) {
            if (l.packed_size < 2) return false;
            std::memcpy(start, packed, 2);
        } else if (l.flags & CHUNK_RLE_BIT) {
            decode_rle(start, 2, packed, l.packed_size);
        } else {
            decode_lzss(start, 2, packed, l.packed_size);
        }
        if (start[0] != 'B' || start[1] != 'M') return false;
        out.push_back(l);
    }
    return true;
}

}  // namespace

bool list_cgf(const std::vector<uint8_t> &archive, const ArchiveLayout *layout, std::string &text, std::string &error) {
    const ArchiveLayout *all[] = {&LAYOUT_2_11, &LAYOUT_2_12, &LAYOUT_2_13};
    std::vector<Listed> entries;
    const ArchiveLayout *chosen = layout;
    std::string fits;
    for (const ArchiveLayout *l : all) {
        std::vector<Listed> e;
        if (!read_entries(archive, *l, e)) continue;
        fits += fits.empty() ? "" : ", ";
        fits += std::string("kegsplit-") + revision_of_layout(*l);
        if (!chosen) chosen = l;
        if (chosen == l) entries = std::move(e);
    }
    text = "fits: " + (fits.empty() ? std::string("none of the three revisions") : fits) + "\n";
    if (!chosen) return true;
    if (entries.empty() && !read_entries(archive, *chosen, entries)) {
        error = std::string("the archive does not fit revision ") + revision_of_layout(*chosen);
        return false;
    }
    text += std::string("entries as revision ") + revision_of_layout(*chosen) + ":\n";
    char line[256];
    std::snprintf(line, sizeof line, "%5s  %-28s %-4s %10s %10s %-6s %10s  %s\n", "index", "name", "mask", "position",
                  "packed", "mode", "decoded", "placement");
    text += line;
    for (size_t i = 0; i < entries.size(); ++i) {
        const Listed &l = entries[i];
        const char *mode = (l.flags & chosen->stored_bit) ? "stored" : (l.flags & CHUNK_RLE_BIT) ? "rle" : "lzss";
        std::string placement = l.entry.is_mask ? "+x" + std::to_string(l.x) + "y" + std::to_string(l.y) : "";
        std::snprintf(line, sizeof line, "%5zu  %-28s %-4s %10u %10u %-6s %10u  %s\n", i, l.entry.name.c_str(),
                      l.entry.is_mask ? "yes" : "", l.entry.position, l.packed_size, mode, l.flags & chosen->length_mask,
                      placement.c_str());
        text += line;
    }
    return true;
}
