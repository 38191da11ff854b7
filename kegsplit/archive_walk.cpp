// archive_walk.cpp: framing, checks and decoding of the entries. Every check
// runs before the walk's state changes, so a skipped entry leaves the held
// mask and its placement as they were.
#include "archive_walk.h"

#include <cerrno>
#include <cstring>

#include "bmp.h"
#include "byte_order.h"
#include "decoders.h"
#include "file_util.h"
#include "platform.h"

namespace {

enum ChunkStatus { CHUNK_OK, CHUNK_TRUNCATED, CHUNK_CORRUPT };

// No real stream expands a byte more than 256 times; more would let a
// handful of bytes make a gigabyte file.
bool decoded_length_plausible(uint64_t decoded, uint64_t packed) { return decoded <= 256 * packed + 65536; }

// Never more buffers kept than a run has entries in flight, give or take.
constexpr size_t KEPT_BUFFERS = 16;

// A buffer of at least `size` bytes: one that went back, or a new one. Every
// buffer is made as large as the largest entry so far, so that any buffer
// that comes back fits the entries after it.
void take_packed_buffer(PackedBuffers &buffers, size_t size, Chunk &chunk) {
    {
        const std::lock_guard<std::mutex> guard(buffers.lock);
        if (size > buffers.largest) buffers.largest = size;
        while (!buffers.free.empty()) {
            auto [buffer, capacity] = std::move(buffers.free.back());
            buffers.free.pop_back();
            if (capacity >= size) {
                chunk.packed = std::move(buffer);
                chunk.packed_capacity = capacity;
                return;
            }
        }
        size = buffers.largest;
    }
    chunk.packed = platform_allocate_large_buffer(size, chunk.packed_capacity);
}

void give_back_packed_buffer(Chunk &chunk) {
    if (!chunk.packed || !chunk.recycle) {
        chunk.packed.reset();
        return;
    }
    PackedBuffers &buffers = *chunk.recycle;
    const std::lock_guard<std::mutex> guard(buffers.lock);
    if (buffers.free.size() < KEPT_BUFFERS && chunk.packed_capacity >= buffers.largest)
        buffers.free.emplace_back(std::move(chunk.packed), chunk.packed_capacity);
    chunk.packed.reset();
    chunk.packed_capacity = 0;
}

ChunkStatus read_chunk(int fd, uint64_t file_size, const ArchiveEntry &entry, const ArchiveLayout &layout,
                       PackedBuffers &buffers, Chunk &chunk) {
    const uint64_t mask_bytes = entry.is_mask ? MASK_HEADER_SIZE : 0;
    const uint64_t header_size = layout.trailer_framing ? CHUNK_HEADER_SIZE_5 : CHUNK_HEADER_SIZE_8;
    const uint64_t framing_end = uint64_t{entry.position} + mask_bytes + header_size;
    if (framing_end > file_size) return CHUNK_TRUNCATED;

    // Short reads count as truncation too: the archive may change under us
    // (an entry can even be written over the archive itself).
    uint8_t head[MASK_HEADER_SIZE + CHUNK_HEADER_SIZE_8] = {};
    const size_t head_size = static_cast<size_t>(mask_bytes + header_size);
    if (!platform_seek(fd, entry.position) || platform_read(fd, head, head_size) != head_size) return CHUNK_TRUNCATED;
    if (entry.is_mask) {
        chunk.placement.x = read_le32s(head);
        chunk.placement.y = read_le32s(head + 4);
    }
    const uint8_t *frame = head + mask_bytes;
    chunk.packed_size = read_le32(frame + (layout.trailer_framing ? 1 : 0));
    const uint64_t trailer = layout.trailer_framing ? CHUNK_TRAILER_SIZE : 0;
    if (uint64_t{chunk.packed_size} + trailer > file_size - framing_end) return CHUNK_TRUNCATED;

    if (!layout.trailer_framing) {
        chunk.flags = read_le32(frame + 4);
        if (!decoded_length_plausible(chunk.flags & layout.length_mask, chunk.packed_size)) return CHUNK_CORRUPT;
    }
    const size_t packed_bytes = static_cast<size_t>(chunk.packed_size + trailer);
    if (entry.is_mask) {
        // A mask keeps its packed bytes until a picture needs it decoded: no
        // larger buffer than it needs.
        chunk.packed = platform_allocate_large_buffer(packed_bytes, chunk.packed_capacity);
    } else {
        take_packed_buffer(buffers, packed_bytes, chunk);
    }
    if (platform_read(fd, chunk.packed.get(), packed_bytes) != packed_bytes) return CHUNK_TRUNCATED;
    if (layout.trailer_framing) {
        chunk.flags = read_le32(chunk.packed.get() + chunk.packed_size + 16);
        if (!decoded_length_plausible(chunk.flags & layout.length_mask, chunk.packed_size)) return CHUNK_CORRUPT;
    }
    return CHUNK_OK;
}

bool read_entry_table(ArchiveWalk &walk) {
    uint8_t count_bytes[4];
    if (walk.file_size < 4 || platform_read(walk.fd, count_bytes, 4) != 4) return false;
    walk.count = read_le32(count_bytes);
    const uint64_t table_size = uint64_t{walk.count} * walk.layout->entry_size;
    if (table_size > static_cast<uint64_t>(walk.file_size) - 4) return false;
    walk.table.resize(static_cast<size_t>(table_size));
    return platform_read(walk.fd, walk.table.data(), walk.table.size()) == walk.table.size();
}

const HeldMask *decoded_mask(const std::shared_ptr<HeldMask> &mask) {
    if (!mask) return nullptr;
    std::call_once(mask->decoded_once, [&] {
        mask->pixels = decode_chunk(mask->chunk, *mask->layout, mask->size);
        mask->chunk = Chunk();  // the packed bytes are no longer needed
    });
    return mask.get();
}

}  // namespace

ArchiveWalk::~ArchiveWalk() {
    if (fd != -1) platform_close(fd);
}

WalkOpenStatus open_archive_walk(const std::string &path, const ArchiveLayout &layout, ArchiveWalk &walk) {
    walk.layout = &layout;
    walk.fd = platform_open(path, OPEN_READ_FLAGS, 0);
    if (walk.fd == -1) return WALK_CANNOT_OPEN;
    walk.file_size = platform_file_size(walk.fd);
    return read_entry_table(walk) ? WALK_OPENED : WALK_TRUNCATED_TABLE;
}

std::vector<std::string> stored_entry_names(const ArchiveWalk &walk) {
    std::vector<std::string> names;
    names.reserve(walk.count);
    for (uint32_t i = 0; i < walk.count; ++i)
        names.push_back(parse_archive_entry(walk.table.data(), i, *walk.layout).name);
    return names;
}

bool next_walk_item(ArchiveWalk &walk, WalkItem &item) {
    if (walk.next >= walk.count) return false;
    item = WalkItem();
    item.index = walk.next++;
    item.entry = parse_archive_entry(walk.table.data(), item.index, *walk.layout);
    if (item.index < walk.names.size()) item.entry.name = walk.names[item.index];
    const ChunkStatus status =
        read_chunk(walk.fd, static_cast<uint64_t>(walk.file_size), item.entry, *walk.layout, *walk.packed_buffers,
                   item.chunk);
    item.chunk.recycle = walk.packed_buffers;
    if (status != CHUNK_OK) {
        item.kind = status == CHUNK_TRUNCATED ? WALK_TRUNCATED : WALK_CORRUPT;
        return true;
    }
    if (item.entry.is_mask) {
        walk.mask.reset();  // the old mask goes before the new one is decoded
        auto mask = std::make_shared<HeldMask>();
        mask->placement = item.chunk.placement;
        mask->chunk = std::move(item.chunk);
        mask->layout = walk.layout;
        walk.mask = std::move(mask);
        item.kind = WALK_MASK;
        return true;
    }
    if (!is_safe_entry_name(item.entry.name)) {
        item.kind = WALK_UNSAFE_NAME;
        return true;
    }
    item.kind = WALK_PICTURE;
    item.mask = walk.mask;
    return true;
}

bool is_safe_entry_name(const std::string &name) {
    if (!name.empty() && (name[0] == '/' || name[0] == '\\')) return false;
    const bool drive_letter = name.size() >= 2 && name[1] == ':' &&
                              ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z'));
    if (drive_letter) return false;
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find_first_of("/\\", start);
        if (end == std::string::npos) end = name.size();
        if (name.compare(start, end - start, "..") == 0) return false;
        start = end + 1;
    }
    return true;
}

size_t decode_chunk_into(const Chunk &chunk, const ArchiveLayout &layout, LargeBuffer &buffer, size_t &capacity) {
    const size_t decoded_size = chunk.flags & layout.length_mask;
    if (capacity < decoded_size || !buffer) {
        buffer.reset();  // the old buffer goes before the new one comes
        buffer = platform_allocate_large_buffer(decoded_size, capacity);
    }
    uint8_t *out = buffer.get();
    const uint8_t *in = chunk.packed.get();
    size_t written;
    if (chunk.flags & layout.stored_bit) {
        written = decoded_size < chunk.packed_size ? decoded_size : chunk.packed_size;
        if (written) std::memcpy(out, in, written);
    } else if (chunk.flags & CHUNK_RLE_BIT) {
        written = decode_rle(out, decoded_size, in, chunk.packed_size);
    } else {
        written = decode_lzss(out, decoded_size, in, chunk.packed_size);
    }
    std::memset(out + written, 0, decoded_size - written);
    return decoded_size;
}

LargeBuffer decode_chunk(const Chunk &chunk, const ArchiveLayout &layout, size_t &decoded_size) {
    LargeBuffer out;
    size_t capacity = 0;
    decoded_size = decode_chunk_into(chunk, layout, out, capacity);
    return out;
}

std::string picture_output_stem(const WalkItem &item) {
    const std::string stem = platform_native_path(get_file_stem(item.entry.name, false));
    if (!item.mask) return stem;
    return stem + format_string("+x%dy%d", item.mask->placement.x, item.mask->placement.y);
}

void finish_picture(WalkItem &item, const ArchiveLayout &layout, FinishedPicture &picture) {
    picture.output_stem = picture_output_stem(item);
    picture.decoded_size = decode_chunk_into(item.chunk, layout, picture.decoded, picture.decoded_capacity);
    give_back_packed_buffer(item.chunk);
    if (!item.mask) {
        picture.kind = FINISHED_PLAIN;
        return;
    }
    if (layout.bogus_image_test && picture.decoded_size >= 6 &&
        read_le32(picture.decoded.get() + 2) == BMP_HEADER_SIZE) {
        picture.kind = FINISHED_BOGUS;
        return;
    }
    const HeldMask *mask = decoded_mask(item.mask);
    const bool composed = compose_mask_pixels(picture.decoded.get(), picture.decoded_size, mask->pixels.get(),
                                              mask->size, picture.composed);
    picture.kind = composed ? FINISHED_COMPOSED : FINISHED_BAD;
}
