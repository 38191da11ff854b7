// archive_list.cpp: what an archive holds, and which revisions' layouts it
// fits: every entry's framing inside the file and its decoded data starting
// with "BM".
#include <cstdio>
#include <cstring>

#include "archive_fit.h"

namespace {

// `name` followed by spaces up to `columns` terminal columns.
std::string padded(const std::string &name, size_t columns) {
    const size_t width = display_width(name);
    return width >= columns ? name : name + std::string(columns - width, ' ');
}

}  // namespace

bool list_cgf(const ReadAt &read_at, uint64_t size, const ArchiveLayout *layout, const ListNames &names,
              NameReading &reading, std::string &text, std::string &error) {
    std::vector<ListedEntry> entries;
    const ArchiveLayout *chosen = layout;
    std::string fits;
    for (const ArchiveLayout *l : ALL_LAYOUTS) {
        std::vector<ListedEntry> e;
        if (!archive_fits(read_at, size, *l, &e)) continue;
        fits += fits.empty() ? "" : ", ";
        fits += std::string("kegsplit-") + revision_of_layout(*l);
        if (!chosen) chosen = l;
        if (chosen == l) entries = std::move(e);
    }
    text = "fits: " + (fits.empty() ? std::string("none of the three revisions") : fits) + "\n";
    if (!chosen) return true;
    if (entries.empty() && !archive_fits(read_at, size, *chosen, &entries)) {
        error = std::string("the archive does not fit revision ") + revision_of_layout(*chosen);
        return false;
    }
    std::vector<std::string> stored;
    for (const ListedEntry &l : entries) stored.push_back(l.entry.name);
    if (!read_names(stored, names.encoding, names.spelling, reading)) {
        error = unreadable_name_message("entry", stored[reading.failed], names.encoding);
        return false;
    }
    text += std::string("entries as revision ") + revision_of_layout(*chosen) + ":\n";
    char line[256];
    std::snprintf(line, sizeof line, "%5s  %-28s %-4s %10s %10s %-6s %10s  %s\n", "index", "name", "mask", "position",
                  "packed", "mode", "decoded", "placement");
    text += line;
    for (size_t i = 0; i < entries.size(); ++i) {
        const ListedEntry &l = entries[i];
        const char *mode = (l.flags & chosen->stored_bit) ? "stored" : (l.flags & CHUNK_RLE_BIT) ? "rle" : "lzss";
        std::string placement = l.entry.is_mask ? "+x" + std::to_string(l.x) + "y" + std::to_string(l.y) : "";
        if (names.show_bytes && !is_ascii_name(stored[i])) placement += "  [" + hex_bytes(stored[i]) + "]";
        std::snprintf(line, sizeof line, "%5zu  ", i);
        text += line;
        text += padded(reading.names[i], 28);
        std::snprintf(line, sizeof line, " %-4s %10u %10u %-6s %10u  ", l.entry.is_mask ? "yes" : "", l.entry.position,
                      l.packed_size, mode, l.flags & chosen->length_mask);
        text += line + placement + "\n";
    }
    return true;
}
