// archive_layout.h: the three revisions of the .cgf archive.
//
//   0      4      entry count N
//   4      N x R  entry table: name field, then a 32-bit offset whose bit 31
//                 marks a mask entry and whose bits 0-30 give the data position
//   at a position: [16-byte MaskHeader: x, y, 8 reserved] then the chunk
//
// Chunk framing: 2.11 and 2.12 put packed_size and flags in 8 bytes before
// the packed bytes; 2.13 puts packed_size at byte 1 of 5 bytes before them
// and flags at byte 16 of 20 bytes after them.
#pragma once

#include <cstdint>
#include <string>

struct ArchiveLayout {
    const char *banner;          // printed with the usage text
    uint32_t entry_size;         // R
    uint32_t name_size;          // name field at the start of the entry
    uint32_t offset_field;       // where the offset word lies in the entry
    bool trailer_framing;        // 2.13: 5-byte header, 20-byte trailer
    uint32_t length_mask;        // decoded length bits of the flags word
    uint32_t stored_bit;         // 0 where the revision has no stored mode
    bool bogus_image_test;       // skip composed pictures whose bfSize is 54
};

extern const ArchiveLayout LAYOUT_2_11;
extern const ArchiveLayout LAYOUT_2_12;
extern const ArchiveLayout LAYOUT_2_13;

constexpr uint32_t ENTRY_MASK_FLAG = 0x80000000u;
constexpr uint32_t ENTRY_POSITION_BITS = 0x7FFFFFFFu;
constexpr uint32_t CHUNK_RLE_BIT = 0x80000000u;
constexpr uint32_t MASK_HEADER_SIZE = 16;
constexpr uint32_t CHUNK_HEADER_SIZE_8 = 8;    // 2.11, 2.12
constexpr uint32_t CHUNK_HEADER_SIZE_5 = 5;    // 2.13
constexpr uint32_t CHUNK_TRAILER_SIZE = 20;    // 2.13

// One record of the entry table.
struct ArchiveEntry {
    std::string name;  // up to the first NUL, or the whole field
    bool is_mask;
    uint32_t position;
};

// Placement of the pictures that follow a mask.
struct MaskHeader {
    int32_t x = 0;
    int32_t y = 0;
};

// Decodes record `index` of a table read with `layout`.
ArchiveEntry parse_archive_entry(const uint8_t *table, uint32_t index, const ArchiveLayout &layout);
