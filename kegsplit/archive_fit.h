// archive_fit.h: which revisions' layouts an archive fits, for archives that
// carry no revision mark. An entry is readable under a layout when its
// framing lies inside the file and its decoded data starts with "BM", as
// every picture and mask does; an archive fits a layout when every entry is.
// A damaged archive (cut short, an entry written over) fits none, and is
// read with the layout under which the most entries are readable.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "archive_layout.h"
#include "name_encoding.h"

// Reads up to `size` bytes at `position`; returns how many it read.
using ReadAt = std::function<size_t(uint64_t position, void *buffer, size_t size)>;

// Reading from bytes in memory (kept by the caller), or from an open file.
ReadAt read_from_memory(const std::vector<uint8_t> &bytes);
ReadAt read_from_file(int fd);

// An entry as the fit test read it.
struct ListedEntry {
    ArchiveEntry entry;
    uint32_t packed_size = 0;
    uint32_t flags = 0;
    int32_t x = 0, y = 0;  // a mask's placement
};

// Whether an archive of `file_size` bytes read through `read_at` fits
// `layout`; fills `entries` (when given) with what it read.
bool archive_fits(const ReadAt &read_at, uint64_t file_size, const ArchiveLayout &layout,
                  std::vector<ListedEntry> *entries);

// How many entries of an archive are readable under a layout. The count is
// exact when it reaches `needed`; below that the count may stop early, once
// it can no longer reach it.
struct LayoutFit {
    const ArchiveLayout *layout = nullptr;
    bool table_inside = false;  // the count and the entry table lie inside the file
    uint32_t count = 0;         // entries in the table
    uint32_t readable = 0;
};
LayoutFit measure_layout_fit(const ReadAt &read_at, uint64_t file_size, const ArchiveLayout &layout,
                             uint32_t needed = 0);

// The layout to read an archive with: of the layouts whose table lies inside
// the file and that read at least one entry (or the table is empty), the one
// that reads the most entries, when it reads strictly more than every other.
// Otherwise `layout` is null and `best` holds the layouts that tie for the
// most, or nothing when none reads an entry. (Every layout counts the same
// entries, so layouts that tie either all fit or all do not.)
struct LayoutChoice {
    const ArchiveLayout *layout = nullptr;
    LayoutFit fit;  // the chosen layout's, or that of the best layouts when they tie
    std::vector<const ArchiveLayout *> best;
};
LayoutChoice choose_archive_layout(const ReadAt &read_at, uint64_t file_size);

// The layouts of 2.11, 2.12 and 2.13, in this order, and their names.
extern const ArchiveLayout *const ALL_LAYOUTS[3];
const char *revision_of_layout(const ArchiveLayout &layout);
// "2.11", "2.12", "2.13"; nullptr for another word.
const ArchiveLayout *layout_for_revision(const std::string &word);

// How a listing shows entry names: read in `encoding` (auto: decided for the
// archive); with `show_bytes`, the stored bytes in hex beside each name that
// is not ASCII. The default shows the stored bytes as they are.
struct ListNames {
    NameEncoding encoding = NAMES_RAW;
    RawSpelling spelling = RAW_AS_BYTES;
    bool show_bytes = false;
};

// The listing of an archive: which revisions' layouts it fits, and a table
// of its entries read with `layout` (or the first that fits, if null), with
// how their names were read in `reading`. False with a one-line reason in
// `error` when `layout` does not fit, or a name does not read as the
// encoding asked for.
bool list_cgf(const ReadAt &read_at, uint64_t size, const ArchiveLayout *layout, const ListNames &names,
              NameReading &reading, std::string &text, std::string &error);
