// decoders.h: the packed formats of a .cgf chunk.
//
// LZSS: flag bytes whose bits, least significant first, announce a literal
// (1: one byte) or a reference (0: two bytes b0 b1 naming window position
// b0 | (b1 & 0xF0) << 4 and length (b1 & 0x0F) + 3). The 4096-byte window
// starts zeroed with its write position at 4078.
//
// Run-length: packets of a count c and a byte written c times, or of 0, m
// and m literal bytes.
//
// Both decoders stop when the input ends or the output is full and return
// how many bytes they wrote; they never read or write outside their buffers.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t LZSS_WINDOW_SIZE = 4096;
constexpr size_t LZSS_START_POSITION = 4078;

size_t decode_lzss(uint8_t *out, size_t out_size, const uint8_t *in, size_t in_size);
size_t decode_rle(uint8_t *out, size_t out_size, const uint8_t *in, size_t in_size);
