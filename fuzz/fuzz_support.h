// fuzz_support.h: what every harness shares. Fatal paths throw FatalExit
// instead of ending the process; outputs go to a scratch folder that is
// emptied after every input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

struct FatalExit {};

// For the time of one input: the throwing fatal handler is installed and a
// scratch folder of this process is the current directory. On leaving, the
// folder is emptied and the previous directory is current again, so that
// the fuzzer's own relative paths keep working.
struct ScratchFolder {
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder &) = delete;
    ScratchFolder &operator=(const ScratchFolder &) = delete;
};

// Writes `size` bytes to `name` in the scratch folder.
void fuzz_write_file(const std::string &name, const uint8_t *data, size_t size);

// The size of a file in the scratch folder, or -1.
long long fuzz_file_size(const std::string &name);

// Always-on invariant check.
#define FUZZ_ASSERT(cond)                                                                  \
    do {                                                                                   \
        if (!(cond)) {                                                                     \
            std::fprintf(stderr, "%s:%d: assertion failed: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                                  \
        }                                                                                  \
    } while (0)

// A decoder against its reference on one input: the capacity comes from the
// first two bytes (up to 64 KiB), the packed bytes are the rest; both must
// write the same bytes and count.
using FuzzDecoder = size_t (*)(uint8_t *, size_t, const uint8_t *, size_t);
void fuzz_compare_decoders(const uint8_t *data, size_t size, FuzzDecoder decoder, FuzzDecoder reference);

// The pixel buffer size a BMP header asks for, in 64 bits (no palette expansion).
uint64_t fuzz_bmp_buffer_size(const uint8_t *data, size_t size);

// Pictures that ask for more than this but stay under the reader's own limit
// only spend time and memory; the harnesses pass over them. Larger ones end
// in the reader's "image too large" and are kept.
constexpr uint64_t FUZZ_MAX_PICTURE_BYTES = 256u << 10;
bool fuzz_picture_wanted(const uint8_t *data, size_t size);
