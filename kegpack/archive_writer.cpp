// archive_writer.cpp: the archive layouts written: count, entry table, then
// each entry's data (mask header, chunk framing, packed bytes) in order.
#include <cerrno>
#include <sstream>

#include "byte_order.h"
#include "encoders.h"
#include "file_util.h"
#include "output_file.h"
#include "packing.h"
#include "platform.h"

namespace {

void append_le32(std::vector<uint8_t> &out, uint32_t v) {
    uint8_t b[4];
    write_le32(b, v);
    out.insert(out.end(), b, b + 4);
}

// The packed bytes and the mode bits of one entry.
void pack_entry(const PackEntry &e, const ArchiveLayout &layout, std::vector<uint8_t> &packed, uint32_t &mode_bits) {
    PackMode mode = e.mode;
    if (mode == MODE_SMALLEST) {
        std::vector<uint8_t> lzss = encode_lzss(e.data.data(), e.data.size());
        std::vector<uint8_t> rle = encode_rle(e.data.data(), e.data.size());
        mode = rle.size() < lzss.size() ? MODE_RLE : MODE_LZSS;
        packed = mode == MODE_RLE ? std::move(rle) : std::move(lzss);
        if (layout.stored_bit && e.data.size() <= packed.size()) mode = MODE_STORED;
    }
    if (mode == MODE_STORED) packed = e.data;
    if (mode == MODE_LZSS && e.mode != MODE_SMALLEST) packed = encode_lzss(e.data.data(), e.data.size());
    if (mode == MODE_RLE && e.mode != MODE_SMALLEST) packed = encode_rle(e.data.data(), e.data.size());
    mode_bits = mode == MODE_RLE ? CHUNK_RLE_BIT : mode == MODE_STORED ? layout.stored_bit : 0;
}

}  // namespace

bool parse_pack_mode(const std::string &word, PackMode &mode) {
    if (word == "lzss")
        mode = MODE_LZSS;
    else if (word == "rle")
        mode = MODE_RLE;
    else if (word == "stored")
        mode = MODE_STORED;
    else if (word == "smallest")
        mode = MODE_SMALLEST;
    else
        return false;
    return true;
}

bool encode_entry_names(std::vector<PackEntry> &entries, const ArchiveLayout &layout, NameEncoding encoding,
                        NameWriting &writing, std::string &error) {
    std::vector<std::string> names;
    for (const PackEntry &e : entries) names.push_back(e.name);
    const auto where = [](const PackEntry &e) { return e.source.empty() ? std::string() : e.source + ": "; };
    if (!write_names(names, encoding, system_raw_spelling(), writing)) {
        const PackEntry &e = entries[writing.failed];
        error = where(e) + "entry name \"" + printable_name(e.name) + "\" cannot be written in " +
                name_encoding_word(writing.encoding);
        return false;
    }
    const size_t most = layout.name_size - 1;
    for (size_t i = 0; i < entries.size(); ++i) {
        const std::string &stored = writing.bytes[i];
        if (!stored.empty() && stored.size() <= most) continue;
        const PackEntry &e = entries[i];
        error = where(e) + "entry name \"" + printable_name(e.name) + "\" does not fit revision " +
                revision_of_layout(layout) + " (1 to " + std::to_string(most);
        // A name that is stored as it is written counts in characters, as it always has.
        error += stored == e.name && is_ascii_name(e.name)
                     ? std::string(" characters)")
                     : " bytes; " + std::to_string(stored.size()) + " in " + name_encoding_word(writing.encoding) + ")";
        return false;
    }
    for (size_t i = 0; i < entries.size(); ++i) entries[i].name = std::move(writing.bytes[i]);
    return true;
}

bool build_cgf(const ArchiveLayout &layout, const std::vector<PackEntry> &entries, std::vector<uint8_t> &archive,
               std::string &error) {
    const char *revision = revision_of_layout(layout);
    for (const PackEntry &e : entries) {
        const std::string where = e.source.empty() ? "" : e.source + ": ";
        if (e.name.empty() || e.name.size() >= layout.name_size || e.name.find('\0') != std::string::npos) {
            error = where + "entry name \"" + e.name + "\" does not fit revision " + revision + " (1 to " +
                    std::to_string(layout.name_size - 1) + " characters)";
            return false;
        }
        if (e.mode == MODE_STORED && !layout.stored_bit) {
            error = where + "entry \"" + e.name + "\": revision " + revision + " has no stored mode";
            return false;
        }
        if (e.data.size() > layout.length_mask) {
            error = where + "entry \"" + e.name + "\" is too large for revision " + revision;
            return false;
        }
    }
    archive.assign(4 + entries.size() * layout.entry_size, 0);
    write_le32(archive.data(), static_cast<uint32_t>(entries.size()));
    for (size_t n = 0; n < entries.size(); ++n) {
        const PackEntry &e = entries[n];
        if (archive.size() > ENTRY_POSITION_BITS) {
            error = "the archive grows past 2 GiB, beyond what an entry's position can hold";
            return false;
        }
        uint8_t *record = archive.data() + 4 + n * layout.entry_size;
        std::copy(e.name.begin(), e.name.end(), record);
        write_le32(record + layout.offset_field,
                   static_cast<uint32_t>(archive.size()) | (e.mask ? ENTRY_MASK_FLAG : 0));
        if (e.mask) {
            append_le32(archive, static_cast<uint32_t>(e.x));
            append_le32(archive, static_cast<uint32_t>(e.y));
            append_le32(archive, 0);
            append_le32(archive, 0);
        }
        std::vector<uint8_t> packed;
        uint32_t mode_bits = 0;
        pack_entry(e, layout, packed, mode_bits);
        const uint32_t flags = mode_bits | static_cast<uint32_t>(e.data.size());
        if (layout.trailer_framing) {
            archive.push_back(0);
            append_le32(archive, static_cast<uint32_t>(packed.size()));
            archive.insert(archive.end(), packed.begin(), packed.end());
            archive.insert(archive.end(), 16, 0);
            append_le32(archive, flags);
        } else {
            append_le32(archive, static_cast<uint32_t>(packed.size()));
            append_le32(archive, flags);
            archive.insert(archive.end(), packed.begin(), packed.end());
        }
    }
    return true;
}

bool read_whole_file(const std::string &path, std::vector<uint8_t> &data, std::string &error, uint64_t max_size) {
    if (load_file_bytes(path, data, max_size)) return true;
    const int reason = errno;
    // A folder is refused as EINVAL (no size) on some systems, EACCES on others;
    // load_file_bytes says EINVAL for a pipe or a device too.
    const PathKind kind = platform_path_kind(path);
    error = "cannot read " + path + " (" +
            (kind == PATH_FOLDER                     ? std::string("a folder")
             : reason == EINVAL && kind != PATH_NONE ? std::string("not a file")
                                                     : platform_error_text(reason)) +
            ")";
    errno = reason;
    return false;
}

bool write_whole_file(const std::string &path, const std::vector<uint8_t> &data, std::string &error) {
    OutputError failure;
    if (write_file_atomically(path, data.data(), data.size(), failure)) return true;
    error = "cannot write " + path + " (" + output_error_text(failure) + ")";
    return false;
}

bool read_manifest(const std::string &path, const ArchiveLayout &layout, PackMode mode, std::vector<PackEntry> &entries,
                   std::string &error) {
    std::vector<uint8_t> bytes;
    if (!read_whole_file(path, bytes, error)) return false;
    const std::string folder =
        path.find_last_of("/\\") == std::string::npos ? "" : path.substr(0, path.find_last_of("/\\") + 1);
    std::istringstream lines(std::string(bytes.begin(), bytes.end()));
    bytes = std::vector<uint8_t>();
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        const std::vector<std::string> w = words_of_line(line);
        if (w.empty()) continue;
        const std::string where = path + ":" + std::to_string(number) + ": ";
        PackEntry e;
        e.mode = mode;
        e.source = path + ":" + std::to_string(number);
        size_t mode_at;
        if (w[0] == "picture" && (w.size() == 3 || w.size() == 4)) {
            mode_at = 3;
        } else if (w[0] == "mask" && (w.size() == 5 || w.size() == 6)) {
            e.mask = true;
            try {
                size_t used_x = 0, used_y = 0;
                e.x = std::stoi(w[3], &used_x);
                e.y = std::stoi(w[4], &used_y);
                if (used_x != w[3].size() || used_y != w[4].size()) throw std::invalid_argument("placement");
            } catch (const std::exception &) {
                error = where + "the placement must be two whole numbers";
                return false;
            }
            mode_at = 5;
        } else {
            error = where + "expected \"picture NAME FILE [MODE]\" or \"mask NAME FILE X Y [MODE]\"";
            return false;
        }
        if (w.size() > mode_at && !parse_pack_mode(w[mode_at], e.mode)) {
            error = where + "unknown packing mode \"" + w[mode_at] + "\"";
            return false;
        }
        e.name = w[1];
        const std::string file = folder + w[2];
        const bool png = has_extension(file, ".png");
        bool read = read_picture_file(file, layout, !png, png ? bytes : e.data, error);
        if (read && png) {
            read = e.mask ? mask_png_to_bmp(file, bytes, layout, e.data, error)
                          : png_to_bmp(file, bytes, layout, e.data, error);
            bytes = std::vector<uint8_t>();
        }
        if (!read) {
            error = where + error;
            return false;
        }
        entries.push_back(std::move(e));
    }
    return true;
}
