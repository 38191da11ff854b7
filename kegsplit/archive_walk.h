// archive_walk.h: one walk over an archive's entries in table order. Each
// entry is framed and checked; a mask entry becomes the held mask; a picture
// entry is handed out with its packed bytes and the mask it falls under, to
// be decoded and composed by finish_picture, at once or on another thread.
// Nothing here prints or ends the run: callers say what went wrong.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "archive_layout.h"
#include "mask_compose.h"
#include "platform.h"

// Buffers for packed bytes that went back after decoding, for the next
// entries to read into: fresh pages cost a fault each, and the walk and
// the threads that decode would otherwise keep asking for them.
struct PackedBuffers {
    std::mutex lock;
    std::vector<std::pair<LargeBuffer, size_t>> free;  // buffer, capacity
    size_t largest = 0;  // the largest entry's packed bytes so far
};

// One entry's framing and packed bytes, read and bounds-checked.
struct Chunk {
    MaskHeader placement;
    LargeBuffer packed;  // the packed bytes (2.13: followed by the trailer), not cleared first
    size_t packed_capacity = 0;
    uint32_t packed_size = 0;
    uint32_t flags = 0;
    std::shared_ptr<PackedBuffers> recycle;  // where the buffer goes when it is done with
};

// The mask that pictures are composed with. It is decoded when a picture
// first needs it, so a mask that no picture uses costs no decoding.
struct HeldMask {
    MaskHeader placement;
    Chunk chunk;
    const ArchiveLayout *layout = nullptr;
    std::once_flag decoded_once;
    LargeBuffer pixels;  // the decoded BMP file image
    size_t size = 0;
};

enum WalkOpenStatus {
    WALK_OPENED,
    WALK_CANNOT_OPEN,      // errno tells why
    WALK_TRUNCATED_TABLE,  // shorter than its count and table
};

struct ArchiveWalk {
    ArchiveWalk() = default;
    ~ArchiveWalk();
    ArchiveWalk(const ArchiveWalk &) = delete;
    ArchiveWalk &operator=(const ArchiveWalk &) = delete;

    const ArchiveLayout *layout = nullptr;
    int fd = -1;
    int64_t file_size = 0;
    uint32_t count = 0;
    std::vector<uint8_t> table;
    uint32_t next = 0;
    // The names handed out, one for each entry, where they are not the stored
    // bytes (decoded from the archive's code page); set after opening.
    std::vector<std::string> names;
    std::shared_ptr<HeldMask> mask;  // null until the first mask entry
    std::shared_ptr<PackedBuffers> packed_buffers = std::make_shared<PackedBuffers>();
};

WalkOpenStatus open_archive_walk(const std::string &path, const ArchiveLayout &layout, ArchiveWalk &walk);

// The stored name of every entry of an opened walk, in table order.
std::vector<std::string> stored_entry_names(const ArchiveWalk &walk);

enum WalkItemKind {
    WALK_TRUNCATED,    // the entry's data does not lie wholly inside the archive
    WALK_CORRUPT,      // it claims more decoded bytes than its packed size can hold
    WALK_MASK,         // now the held mask
    WALK_UNSAFE_NAME,  // a picture whose name would leave the output folder
    WALK_PICTURE,
};

struct WalkItem {
    WalkItemKind kind = WALK_TRUNCATED;
    uint32_t index = 0;
    ArchiveEntry entry;
    Chunk chunk;                     // WALK_PICTURE
    std::shared_ptr<HeldMask> mask;  // WALK_PICTURE: the mask it falls under, or null
};

// The next entry; false after the last.
bool next_walk_item(ArchiveWalk &walk, WalkItem &item);

// Whether an entry name stays inside the output folder: not absolute, no
// drive letter, no ".." component (either separator counts).
bool is_safe_entry_name(const std::string &name);

// Decodes a chunk by its mode bits; bytes a short stream leaves are zero.
LargeBuffer decode_chunk(const Chunk &chunk, const ArchiveLayout &layout, size_t &decoded_size);

// The same into `buffer`, which is replaced only when it holds fewer than
// the decoded length (its `capacity`); returns the decoded length. Reused
// from entry to entry, it spares fresh pages and their clearing.
size_t decode_chunk_into(const Chunk &chunk, const ArchiveLayout &layout, LargeBuffer &buffer,
                         size_t &capacity);

enum FinishedKind {
    FINISHED_PLAIN,     // no mask held: the decoded file image, written as it is
    FINISHED_COMPOSED,  // under a mask: a 32-bit picture with the mask's alpha
    FINISHED_BOGUS,     // under a mask, and its file size field says 54 (2.12, 2.13)
    FINISHED_BAD,       // under a mask, and its headers describe more than it holds
};

// One thread keeps one of these from picture to picture: its buffers are
// reused while they are large enough.
struct FinishedPicture {
    FinishedKind kind = FINISHED_PLAIN;
    // The output name without its extension: the entry's stem as a path of
    // this system, and under a mask the placement suffix "+xXyY".
    std::string output_stem;
    LargeBuffer decoded;  // FINISHED_PLAIN: the first decoded_size bytes
    size_t decoded_size = 0;
    size_t decoded_capacity = 0;
    ComposedPicture composed;  // FINISHED_COMPOSED
};

// The output stem of a picture item, before any decoding.
std::string picture_output_stem(const WalkItem &item);

// Decodes a picture item (releasing its packed bytes as soon as they are
// decoded) and composes it with its mask. Safe to run on several threads at
// once, also for items that share a mask.
void finish_picture(WalkItem &item, const ArchiveLayout &layout, FinishedPicture &picture);
