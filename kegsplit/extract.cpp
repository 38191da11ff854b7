// extract.cpp: read the entry table, then take each entry through
// frame -> checks -> decode -> hold as mask, write, or compose and write.
// Every check runs before the run's state changes, so a skipped entry
// leaves the held mask and its placement as they were.
#include "extract.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "bmp.h"
#include "byte_order.h"
#include "decoders.h"
#include "fatal.h"
#include "file_util.h"
#include "mask_compose.h"
#include "platform.h"

namespace {

// One entry's framing and packed bytes, read and bounds-checked.
struct Chunk {
    MaskHeader placement;
    std::vector<uint8_t> packed;  // the packed bytes (2.13: followed by the trailer)
    uint32_t packed_size = 0;
    uint32_t flags = 0;
};

enum ChunkStatus { CHUNK_OK, CHUNK_TRUNCATED, CHUNK_CORRUPT };

// No real stream expands a byte more than 256 times; more would let a
// handful of bytes make a gigabyte file.
bool decoded_length_plausible(uint64_t decoded, uint64_t packed) { return decoded <= 256 * packed + 65536; }

ChunkStatus read_chunk(int fd, uint64_t file_size, const ArchiveEntry &entry, const ArchiveLayout &layout,
                       Chunk &chunk) {
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
    chunk.packed.resize(static_cast<size_t>(chunk.packed_size + trailer));
    if (platform_read(fd, chunk.packed.data(), chunk.packed.size()) != chunk.packed.size()) return CHUNK_TRUNCATED;
    if (layout.trailer_framing) {
        chunk.flags = read_le32(chunk.packed.data() + chunk.packed_size + 16);
        if (!decoded_length_plausible(chunk.flags & layout.length_mask, chunk.packed_size)) return CHUNK_CORRUPT;
    }
    return CHUNK_OK;
}

// Decodes the chunk by its mode bits; bytes a short stream leaves are zero.
std::unique_ptr<uint8_t[]> decode_chunk(const Chunk &chunk, const ArchiveLayout &layout, size_t &decoded_size) {
    decoded_size = chunk.flags & layout.length_mask;
    std::unique_ptr<uint8_t[]> out(new uint8_t[decoded_size]);
    const uint8_t *in = chunk.packed.data();
    size_t written;
    if (chunk.flags & layout.stored_bit) {
        written = decoded_size < chunk.packed_size ? decoded_size : chunk.packed_size;
        if (written) std::memcpy(out.get(), in, written);
    } else if (chunk.flags & CHUNK_RLE_BIT) {
        written = decode_rle(out.get(), decoded_size, in, chunk.packed_size);
    } else {
        written = decode_lzss(out.get(), decoded_size, in, chunk.packed_size);
    }
    std::memset(out.get() + written, 0, decoded_size - written);
    return out;
}

std::vector<uint8_t> read_entry_table(int fd, const std::string &path, const ArchiveLayout &layout,
                                      int64_t file_size, uint32_t &count) {
    uint8_t count_bytes[4];
    if (file_size < 4 || platform_read(fd, count_bytes, 4) != 4) {
        std::fprintf(stderr, "%s: truncated entry table\n", path.c_str());
        fatal_exit();
    }
    count = read_le32(count_bytes);
    const uint64_t table_size = uint64_t{count} * layout.entry_size;
    std::vector<uint8_t> table;
    if (table_size > static_cast<uint64_t>(file_size) - 4) {
        std::fprintf(stderr, "%s: truncated entry table\n", path.c_str());
        fatal_exit();
    }
    table.resize(static_cast<size_t>(table_size));
    if (platform_read(fd, table.data(), table.size()) != table.size()) {
        std::fprintf(stderr, "%s: truncated entry table\n", path.c_str());
        fatal_exit();
    }
    return table;
}

}  // namespace

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

int print_usage(const char *program, const ArchiveLayout &layout) {
    std::fputs(layout.banner, stderr);
    std::fprintf(stderr, "usage: %s <input.cgf>\n\n", program);
    return -1;
}

int extract_archive(const std::string &path, const ArchiveLayout &layout) {
    const ScopedFile archive(open_file_or_exit(path, OPEN_READ_FLAGS, 0));
    const int fd = archive.fd;
    uint32_t count = 0;
    const int64_t file_size = platform_file_size(fd);
    const std::vector<uint8_t> table = read_entry_table(fd, path, layout, file_size, count);

    bool mask_held = false;
    std::unique_ptr<uint8_t[]> mask;
    size_t mask_size = 0;
    MaskHeader placement;

    for (uint32_t i = 0; i < count; ++i) {
        const ArchiveEntry entry = parse_archive_entry(table.data(), i, layout);
        Chunk chunk;
        const ChunkStatus status = read_chunk(fd, static_cast<uint64_t>(file_size), entry, layout, chunk);
        if (status == CHUNK_TRUNCATED) {
            std::fprintf(stderr, "%s: truncated entry (skipped)\n", entry.name.c_str());
            continue;
        }
        if (status == CHUNK_CORRUPT) {
            std::fprintf(stderr, "%s: corrupt entry (skipped)\n", entry.name.c_str());
            continue;
        }

        if (entry.is_mask) {
            mask.reset();  // the old mask goes before the new one is decoded
            placement = chunk.placement;
            mask = decode_chunk(chunk, layout, mask_size);
            mask_held = true;
            continue;
        }

        if (!is_safe_entry_name(entry.name)) {
            std::fprintf(stderr, "%s: unsafe entry name (skipped)\n", entry.name.c_str());
            continue;
        }
        const std::string stem = platform_native_path(get_file_stem(entry.name, false));
        size_t decoded_size = 0;
        std::unique_ptr<uint8_t[]> decoded = decode_chunk(chunk, layout, decoded_size);
        chunk.packed = std::vector<uint8_t>();  // released as soon as it is decoded

        if (!mask_held) {
            write_file(stem + ".bmp", decoded.get(), static_cast<int32_t>(decoded_size));
            continue;
        }
        const std::string output = format_string("%s+x%dy%d.bmp", stem.c_str(), placement.x, placement.y);
        if (layout.bogus_image_test && decoded_size >= 6 && read_le32(decoded.get() + 2) == BMP_HEADER_SIZE) {
            std::fprintf(stderr, "%s: bogus image (skipped)\n", output.c_str());
            continue;
        }
        if (!compose_with_mask(decoded.get(), decoded_size, mask.get(), mask_size, output))
            std::fprintf(stderr, "%s: bad image (skipped)\n", output.c_str());
    }

    return 0;
}
