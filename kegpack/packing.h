// packing.h: building and repacking .cgf archives, and event tables.
// Every function returns false with a one-line reason in `error` on a fault;
// none prints or ends the process.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive_fit.h"
#include "bmp_image.h"
#include "name_encoding.h"

enum PackMode { MODE_LZSS, MODE_RLE, MODE_STORED, MODE_SMALLEST };

// "lzss", "rle", "stored", "smallest"; false for another word.
bool parse_pack_mode(const std::string &word, PackMode &mode);

struct PackEntry {
    std::string name;  // as the user wrote it (UTF-8) until encode_entry_names stores it
    bool mask = false;
    int32_t x = 0, y = 0;       // placement, for a mask
    std::vector<uint8_t> data;  // the decoded bytes, a whole BMP file
    PackMode mode = MODE_SMALLEST;
    std::string source;  // where the entry comes from, for messages ("" when made here)
};

// Turns every entry's name into the bytes it is stored as, in `encoding`
// (write_names), and checks each against the revision's name field. False
// with one line naming the entry's source when a name has no spelling in the
// encoding, or does not fit the field once encoded; `writing` says which
// encoding was taken.
bool encode_entry_names(std::vector<PackEntry> &entries, const ArchiveLayout &layout, NameEncoding encoding,
                        NameWriting &writing, std::string &error);

// An archive of `layout` holding `entries` in this order.
bool build_cgf(const ArchiveLayout &layout, const std::vector<PackEntry> &entries, std::vector<uint8_t> &archive,
               std::string &error);

// Entries from a manifest, one entry a line ("#" starts a comment):
//   picture NAME FILE [MODE]
//   mask NAME FILE X Y [MODE]
// FILE is relative to the manifest's folder; MODE defaults to `mode`. A
// FILE named *.png is stored as the BMP file that picture_file_to_bmp makes
// of it (for a mask: mask_png_to_bmp); any other file as its bytes.
bool read_manifest(const std::string &path, const ArchiveLayout &layout, PackMode mode, std::vector<PackEntry> &entries,
                   std::string &error);

// Entries whose extraction gives back the pictures of `folder` and its
// subfolders (as kegsplit wrote them, or kegkit extract with --png): plain
// pictures first, then one mask per group of composed pictures with the
// same placement and alpha channel, each mask followed by its pictures.
// `split` counts the placements whose pictures needed more than one mask.
bool repack_folder(const std::string &folder, const ArchiveLayout &layout, PackMode mode,
                   std::vector<PackEntry> &entries, size_t &split, std::string &error);

// ---- picture files ----
// Whether a file name ends in ".png" or ".bmp", in any case.
bool has_extension(const std::string &name, const char *lower_extension);

// The bytes of a picture file. A file that goes into an entry `as_is` is
// refused, unread, when it is larger than an entry of `layout` holds; any
// other when it is larger than any picture file the kit reads.
bool read_picture_file(const std::string &path, const ArchiveLayout &layout, bool as_is, std::vector<uint8_t> &bytes,
                       std::string &error);

// A PNG file image decoded; refused, naming `path`, with decode_png's reason.
bool decode_png_file(const std::string &path, const std::vector<uint8_t> &png, Picture &picture, std::string &error);

// A decoded picture as the BMP file that kegsplit would have written for
// its pixels: RGB 24-bit, RGBA 32-bit, indexed 8-bit with its palette.
// Refused, naming `path`, when the file would not fit an entry of `layout`.
bool picture_to_bmp(const std::string &path, const Picture &picture, const ArchiveLayout &layout,
                    std::vector<uint8_t> &bmp, std::string &error);

// decode_png_file, then picture_to_bmp (grey PNG files become RGB).
bool png_to_bmp(const std::string &path, const std::vector<uint8_t> &png, const ArchiveLayout &layout,
                std::vector<uint8_t> &bmp, std::string &error);

// A PNG file image as an 8-bit mask: an indexed PNG with its palette, or a
// grey PNG without alpha as the grey ramp (index = grey value).
bool mask_png_to_bmp(const std::string &path, const std::vector<uint8_t> &png, const ArchiveLayout &layout,
                     std::vector<uint8_t> &bmp, std::string &error);

// Whether an entry of `layout` holds `size` decoded bytes; otherwise the
// refusal naming `path`.
bool check_entry_size(const std::string &path, uint64_t size, const ArchiveLayout &layout, std::string &error);

// ---- event tables ----
// evinfo.bin from lines "EVENT BASE DELTA", the names written in `encoding`
// (write_names; `writing` says which was taken), and back, the names read in
// `encoding` (read_names; `reading` says how).
bool build_event_table(const std::string &list_text, NameEncoding encoding, std::vector<uint8_t> &table,
                       NameWriting &writing, std::string &error);
bool print_event_table(const std::vector<uint8_t> &table, NameEncoding encoding, std::string &text,
                       NameReading &reading, std::string &error);

// The words of one line of a manifest or an event list; "#" starts a comment.
std::vector<std::string> words_of_line(const std::string &line);

// A whole file of at most `max_size` bytes: "cannot read PATH (REASON)"
// otherwise, with errno kept.
bool read_whole_file(const std::string &path, std::vector<uint8_t> &data, std::string &error,
                     uint64_t max_size = uint64_t{1} << 30);
// "cannot write PATH (REASON)" when the file cannot be written whole; it is
// written under a temporary name and renamed into place.
bool write_whole_file(const std::string &path, const std::vector<uint8_t> &data, std::string &error);
