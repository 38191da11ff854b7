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

// Once per process: install the throwing fatal handler and make a fresh
// scratch folder the current directory.
void fuzz_init();

// Removes every file from the scratch folder.
void fuzz_clear_scratch();

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

// The pixel buffer size a BMP header asks for, in 64 bits (no palette expansion).
uint64_t fuzz_bmp_buffer_size(const uint8_t *data, size_t size);

// Pictures that ask for more than this but stay under the reader's own limit
// only spend time and memory; the harnesses pass over them. Larger ones end
// in the reader's "image too large" and are kept.
constexpr uint64_t FUZZ_MAX_PICTURE_BYTES = 1u << 20;
bool fuzz_picture_wanted(const uint8_t *data, size_t size);
