// test_support.h: fixtures the tests build for themselves: archives of each
// revision, BMP file images, simple reference encoders, temporary folders
// and runs of the real programs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive_layout.h"

using Bytes = std::vector<uint8_t>;

// ---- encoders the tests trust because they are simple ----
// LZSS: greedy matches against the decoder's own window model, literals otherwise.
Bytes encode_lzss_simple(const Bytes &data);
// LZSS of literals only.
Bytes encode_lzss_literals(const Bytes &data);
// Run-length: runs of 3 or more as counted packets, the rest as literal packets.
Bytes encode_rle_simple(const Bytes &data);

// ---- BMP file images ----
// A 24-bit picture; `pixel(x, y)` gives blue, green, red for stored row y.
Bytes make_bmp24(int32_t width, int32_t height, uint32_t seed);
// An 8-bit mask with a grey palette (entry k = k, k, k, 0); index = f(x, row).
Bytes make_mask8(int32_t width, int32_t height, uint32_t seed);
// A 32-bit picture with alpha: large transparent and opaque areas and a
// ramp between them.
Bytes make_bmp32(int32_t width, int32_t height, uint32_t seed);
void put_le32(Bytes &b, size_t at, uint32_t v);
uint32_t get_le32(const Bytes &b, size_t at);

// The 32-bit file kegsplit writes for `picture` under `mask`, worked out
// from the two files' fields directly.
Bytes expected_composed(const Bytes &picture, const Bytes &mask);

// ---- archives ----
enum TestPackMode { PACK_LZSS, PACK_RLE, PACK_STORED, PACK_LZSS_LITERALS };

struct TestEntry {
    std::string name;          // stored in the name field (cut to fit, no NUL added if full)
    bool mask = false;
    int32_t x = 0, y = 0;      // mask placement
    Bytes data;                // decoded bytes
    TestPackMode mode = PACK_LZSS;
    bool both_mode_bits = false;  // 2.13: stored with the run-length bit set as well
};

// Builds an archive whose entry data lies in reverse table order, so that
// table order and file order differ.
Bytes build_archive(const ArchiveLayout &layout, const std::vector<TestEntry> &entries);

// Where entry `index`'s data starts in an archive made by build_archive.
uint32_t entry_position(const Bytes &archive, const ArchiveLayout &layout, uint32_t index);

// ---- the merger's inputs and arithmetic ----
struct TestEvent {
    std::string event, base, delta;  // each stored in its 16-byte field, cut to fit
};
Bytes make_event_table(const std::vector<TestEvent> &events);

// The blend of one delta pixel onto one base pixel, written out plainly
// from its definition with every double step forced to memory.
void reference_blend(uint8_t *base, int base_bpp, const uint8_t *delta, int delta_bpp);

// A bottom-up BMP file (24 or 32 bits, 54-byte headers) with `delta` blended
// in at (dx, dy) from the top-left corner, by reference_blend.
Bytes reference_merge(const Bytes &base_file, const Bytes &delta_file, int dx, int dy);

// ---- fatal ends inside a test (death tests) ----
// The status exit(-1) leaves: 255 where statuses are 8 bits, -1 on Windows.
#if defined(_WIN32)
constexpr int FATAL_EXIT_CODE = -1;
#else
constexpr int FATAL_EXIT_CODE = 255;
#endif
// A death-test pattern for exactly one line of standard error (which ends
// in "\r\n" where the runtime writes text mode).
std::string whole_line_pattern(const std::string &line);

// ---- files and folders ----
Bytes read_file_bytes(const std::string &path);
void write_file_bytes(const std::string &path, const Bytes &data);
bool file_exists(const std::string &path);
// Every file below `dir`, as relative paths, sorted.
std::vector<std::string> list_tree(const std::string &dir);

// A fresh folder under the system's temporary folder, removed at the end.
struct TempDir {
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    std::string path;
    std::string file(const std::string &name) const { return path + "/" + name; }
};

// Makes the current directory `dir` for the lifetime of the object.
struct ScopedChdir {
    explicit ScopedChdir(const std::string &dir);
    ~ScopedChdir();
    std::string previous;
};

struct RunResult {
    int status = -1;      // exit status, or -1000 - signal
    std::string err;      // all of standard error
    std::string out;      // all of standard output
};
// Runs `program` with `args` in folder `cwd`; a non-zero `address_space`
// limits the process's virtual memory to that many bytes, a non-zero
// `file_size` the size of every file it writes (a disk that fills up: writes
// past the limit fail with EFBIG, SIGXFSZ is ignored).
RunResult run_program(const std::string &program, const std::vector<std::string> &args, const std::string &cwd,
                      uint64_t address_space = 0, uint64_t file_size = 0);

// The words that start `program` directly (an emulator first, in a cross
// build whose programs this machine cannot run itself).
std::vector<std::string> program_command(const std::string &program);

// Paths of the built programs.
std::string kegsplit_path(const ArchiveLayout &layout);
std::string palimp_path();
std::string kegkit_path();

// Whether ImageMagick's convert is there to check our files with.
bool have_imagemagick();
// The pixels of a picture file as ImageMagick reads them: "rgba" bytes.
Bytes imagemagick_rgba(const std::string &path);
// The same read by our own BMP reader (ImageMagick reads the alpha of a
// 32-bit BMP in its own way).
Bytes bmp_rgba(const std::string &path);

// Whether the end-to-end tests run the Windows programs (under wine).
bool testing_windows_build();

// The first argument a program run by run_program sees, as its usage text shows it.
std::string program_argv0(const std::string &path);

// The text of an errno value in "Could not open %s (%s)" of the programs
// under test.
std::string open_error_text(int error);

// The text of a write refused at the file-size limit (EFBIG), as the
// programs under test report it.
std::string file_too_large_text();
