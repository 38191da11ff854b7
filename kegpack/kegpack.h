// kegpack.h: building, listing and repacking .cgf archives and event tables.
// Every function returns false with a one-line reason in `error` on a fault;
// none prints or ends the process.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive_fit.h"

enum PackMode { MODE_LZSS, MODE_RLE, MODE_STORED, MODE_SMALLEST };

// "lzss", "rle", "stored", "smallest"; false for another word.
bool parse_pack_mode(const std::string &word, PackMode &mode);

struct PackEntry {
    std::string name;
    bool mask = false;
    int32_t x = 0, y = 0;       // placement, for a mask
    std::vector<uint8_t> data;  // the decoded bytes, a whole BMP file
    PackMode mode = MODE_SMALLEST;
};

// An archive of `layout` holding `entries` in this order.
bool build_cgf(const ArchiveLayout &layout, const std::vector<PackEntry> &entries, std::vector<uint8_t> &archive,
               std::string &error);

// Entries from a manifest, one entry a line ("#" starts a comment):
//   picture NAME FILE [MODE]
//   mask NAME FILE X Y [MODE]
// FILE is relative to the manifest's folder; MODE defaults to `mode`.
bool read_manifest(const std::string &path, PackMode mode, std::vector<PackEntry> &entries, std::string &error);

// Entries whose extraction gives back the .bmp files of `folder` (as
// kegsplit wrote them) byte for byte: plain pictures first, then one mask
// per group of 32-bit pictures with the same placement and alpha channel.
bool repack_folder(const std::string &folder, const ArchiveLayout &layout, PackMode mode,
                   std::vector<PackEntry> &entries, std::string &error);

// The listing of an archive: which revisions' layouts it fits, and a table
// of its entries read with `layout` (or the first that fits, if null).
bool list_cgf(const ReadAt &read_at, uint64_t size, const ArchiveLayout *layout, std::string &text,
              std::string &error);

// evinfo.bin from lines "EVENT BASE DELTA", and back.
bool build_event_table(const std::string &list_text, std::vector<uint8_t> &table, std::string &error);
bool print_event_table(const std::vector<uint8_t> &table, std::string &text, std::string &error);

// The words of one line of a manifest or an event list; "#" starts a comment.
std::vector<std::string> words_of_line(const std::string &line);

bool read_whole_file(const std::string &path, std::vector<uint8_t> &data, std::string &error);
bool write_whole_file(const std::string &path, const std::vector<uint8_t> &data, std::string &error);
