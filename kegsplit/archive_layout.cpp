#include "archive_layout.h"

#include <cstring>

#include "byte_order.h"

const ArchiveLayout LAYOUT_2_11 = {"kegsplit, v2.11 by varnholt\n\n", 20, 16, 16, false, 0x7FFFFFFFu, 0, false};
const ArchiveLayout LAYOUT_2_12 = {"kegsplit, v2.12 by varnholt\n\n", 32, 28, 28, false, 0x7FFFFFFFu, 0, true};
const ArchiveLayout LAYOUT_2_13 = {"kegsplit, v2.13 by varnholt\n\n", 20, 16, 16, true, 0x3FFFFFFFu, 0x40000000u, true};

ArchiveEntry parse_archive_entry(const uint8_t *table, uint32_t index, const ArchiveLayout &layout) {
    const uint8_t *record = table + static_cast<size_t>(index) * layout.entry_size;
    const auto *name = reinterpret_cast<const char *>(record);
    const void *nul = std::memchr(name, 0, layout.name_size);
    const size_t name_length = nul ? static_cast<size_t>(static_cast<const char *>(nul) - name) : layout.name_size;
    const uint32_t offset = read_le32(record + layout.offset_field);
    return ArchiveEntry{std::string(name, name_length), (offset & ENTRY_MASK_FLAG) != 0, offset & ENTRY_POSITION_BITS};
}
