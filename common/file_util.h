// file_util.h: opening files or stopping, formatting into a string, path
// stems, and dumping one buffer to a file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The two ways the kit opens files, as the runtime library's flag words.
constexpr int OPEN_READ_FLAGS = 0x8000;   // read only, binary
constexpr int OPEN_WRITE_FLAGS = 0x8301;  // write only, create, truncate, binary
constexpr int OPEN_WRITE_MODE = 0x180;    // owner read and write

// Closes a descriptor when it goes out of scope, also when a fatal handler
// that unwinds (a test's or a fuzzer's) ends the run early.
struct ScopedFile {
    explicit ScopedFile(int descriptor) : fd(descriptor) {}
    ~ScopedFile();
    ScopedFile(const ScopedFile &) = delete;
    ScopedFile &operator=(const ScopedFile &) = delete;
    int fd;
};

// Returns a descriptor, never -1. On failure prints
// "Could not open %s (%s)\n" and ends the run with status -1.
int open_file_or_exit(const std::string &name, int flags, int mode);

// printf-style formatting into a string of any length.
std::string format_string(const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// `path` without its last extension; with strip_directory, also without
// everything up to its last '/' or '\'.
std::string get_file_stem(const std::string &path, bool strip_directory);

// Creates or truncates `name` and writes `length` bytes of `data` to it. A
// file that cannot be opened or written ends the run (see below).
void write_file(const std::string &name, const uint8_t *data, int32_t length);

// Reads the whole file into `bytes`. False with errno set when it cannot be
// opened or read, or holds more than `max_size` bytes (EFBIG).
bool load_file_bytes(const std::string &name, std::vector<uint8_t> &bytes, uint64_t max_size);

struct OutputError;
// Prints "Could not open %s (%s)\n" or "Could not write %s (%s)\n" for the
// output `name` and ends the run with status -1.
[[noreturn]] void exit_on_output_error(const std::string &name, const OutputError &error);
