#include "archive_fit.h"

#include <cstring>

#include "byte_order.h"
#include "decoders.h"
#include "platform.h"

const ArchiveLayout *const ALL_LAYOUTS[3] = {&LAYOUT_2_11, &LAYOUT_2_12, &LAYOUT_2_13};

const char *revision_of_layout(const ArchiveLayout &layout) {
    return &layout == &LAYOUT_2_11 ? "2.11" : &layout == &LAYOUT_2_12 ? "2.12" : "2.13";
}

const ArchiveLayout *layout_for_revision(const std::string &word) {
    for (const ArchiveLayout *layout : ALL_LAYOUTS)
        if (word == revision_of_layout(*layout)) return layout;
    return nullptr;
}

ReadAt read_from_memory(const std::vector<uint8_t> &bytes) {
    return [&bytes](uint64_t position, void *buffer, size_t size) -> size_t {
        if (position >= bytes.size() || size == 0) return 0;
        const size_t n = bytes.size() - position < size ? static_cast<size_t>(bytes.size() - position) : size;
        std::memcpy(buffer, bytes.data() + position, n);
        return n;
    };
}

ReadAt read_from_file(int fd) {
    return [fd](uint64_t position, void *buffer, size_t size) -> size_t {
        return platform_seek(fd, position) ? platform_read(fd, buffer, size) : 0;
    };
}

namespace {

bool read_exactly(const ReadAt &read_at, uint64_t position, void *buffer, size_t size) {
    return size == 0 || read_at(position, buffer, size) == size;
}

// The first two decoded bytes; no stream needs more than 8 packed bytes
// for them (a flag byte and two references, or a literal packet's head).
bool starts_with_bm(const ReadAt &read_at, uint64_t packed_at, const ListedEntry &l, const ArchiveLayout &layout) {
    if ((l.flags & layout.length_mask) < 2) return false;
    uint8_t packed[8] = {};
    const size_t have = l.packed_size < sizeof packed ? l.packed_size : sizeof packed;
    if (!read_exactly(read_at, packed_at, packed, have)) return false;
    uint8_t start[2] = {0, 0};
    if (l.flags & layout.stored_bit) {
        if (have < 2) return false;
        start[0] = packed[0];
        start[1] = packed[1];
    } else if (l.flags & CHUNK_RLE_BIT) {
        decode_rle(start, 2, packed, have);
    } else {
        decode_lzss(start, 2, packed, have);
    }
    return start[0] == 'B' && start[1] == 'M';
}

// The count and the entry table; false when they do not lie inside the file.
bool read_entry_table(const ReadAt &read_at, uint64_t file_size, const ArchiveLayout &layout, uint32_t &count,
                      std::vector<uint8_t> &table) {
    uint8_t count_bytes[4];
    if (file_size < 4 || !read_exactly(read_at, 0, count_bytes, 4)) return false;
    count = read_le32(count_bytes);
    if (uint64_t{count} * layout.entry_size > file_size - 4) return false;
    table.resize(static_cast<size_t>(uint64_t{count} * layout.entry_size));
    return read_exactly(read_at, 4, table.data(), table.size());
}

// Entry `i` as the table and its framing give it; true when it is readable.
bool read_listed_entry(const ReadAt &read_at, uint64_t file_size, const ArchiveLayout &layout,
                       const std::vector<uint8_t> &table, uint32_t i, ListedEntry &l) {
    const uint64_t header = layout.trailer_framing ? CHUNK_HEADER_SIZE_5 : CHUNK_HEADER_SIZE_8;
    const uint64_t trailer = layout.trailer_framing ? CHUNK_TRAILER_SIZE : 0;
    l.entry = parse_archive_entry(table.data(), i, layout);
    const uint64_t at = l.entry.position;
    uint8_t head[MASK_HEADER_SIZE + CHUNK_HEADER_SIZE_8];
    const uint64_t head_size = (l.entry.is_mask ? MASK_HEADER_SIZE : 0) + header;
    if (at + head_size > file_size || !read_exactly(read_at, at, head, static_cast<size_t>(head_size))) return false;
    const uint8_t *frame = head;
    if (l.entry.is_mask) {
        l.x = read_le32s(head);
        l.y = read_le32s(head + 4);
        frame += MASK_HEADER_SIZE;
    }
    l.packed_size = read_le32(frame + (layout.trailer_framing ? 1 : 0));
    const uint64_t packed_at = at + head_size;
    if (packed_at + l.packed_size + trailer > file_size) return false;
    if (layout.trailer_framing) {
        uint8_t flags[4];
        if (!read_exactly(read_at, packed_at + l.packed_size + 16, flags, 4)) return false;
        l.flags = read_le32(flags);
    } else {
        l.flags = read_le32(frame + 4);
    }
    return starts_with_bm(read_at, packed_at, l, layout);
}

}  // namespace

bool archive_fits(const ReadAt &read_at, uint64_t file_size, const ArchiveLayout &layout,
                  std::vector<ListedEntry> *entries) {
    uint32_t count = 0;
    std::vector<uint8_t> table;
    if (!read_entry_table(read_at, file_size, layout, count, table)) return false;
    for (uint32_t i = 0; i < count; ++i) {
        ListedEntry l;
        if (!read_listed_entry(read_at, file_size, layout, table, i, l)) return false;
        if (entries) entries->push_back(l);
    }
    return true;
}

LayoutFit measure_layout_fit(const ReadAt &read_at, uint64_t file_size, const ArchiveLayout &layout, uint32_t needed) {
    LayoutFit fit;
    fit.layout = &layout;
    std::vector<uint8_t> table;
    fit.table_inside = read_entry_table(read_at, file_size, layout, fit.count, table);
    if (!fit.table_inside) return fit;
    for (uint32_t i = 0; i < fit.count && fit.readable + (fit.count - i) >= needed; ++i) {
        ListedEntry l;
        if (read_listed_entry(read_at, file_size, layout, table, i, l)) ++fit.readable;
    }
    return fit;
}

LayoutChoice choose_archive_layout(const ReadAt &read_at, uint64_t file_size) {
    LayoutChoice choice;
    std::vector<LayoutFit> fits;
    uint32_t most = 0;
    for (const ArchiveLayout *layout : ALL_LAYOUTS) {
        // A layout that cannot reach the best so far is not counted to the end.
        const LayoutFit fit = measure_layout_fit(read_at, file_size, *layout, most);
        if (!fit.table_inside || (fit.readable == 0 && fit.count > 0) || fit.readable < most) continue;
        most = fit.readable;
        fits.push_back(fit);
    }
    for (const LayoutFit &fit : fits)
        if (fit.readable == most) {
            choice.best.push_back(fit.layout);
            choice.fit = fit;
        }
    if (choice.best.size() == 1) choice.layout = choice.best[0];
    return choice;
}
