// encoders.h: packing for the formats that decode_lzss and decode_rle read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// LZSS with optimal parsing: the longest match at every position (hash
// chains over the 4096-byte window, and runs of zeros from window positions
// not yet written), then the cheapest path over all match lengths. Never
// larger than encode_lzss_greedy.
std::vector<uint8_t> encode_lzss(const uint8_t *data, size_t size);

// LZSS by the greedy longest match at every position, over hash chains of
// at most `max_chain` candidates. The baseline encode_lzss is held to; the
// benchmarks pack their archives with it.
std::vector<uint8_t> encode_lzss_greedy(const uint8_t *data, size_t size, int max_chain = 64);

// Run-length packets of the fewest bytes: runs (count, value) and literal
// packets (0, m, m bytes), chosen by dynamic programming.
std::vector<uint8_t> encode_rle(const uint8_t *data, size_t size);
