// lzss_decode_fuzzer.cpp: decode_lzss against the byte-at-a-time reference,
// with a capacity drawn from the first two bytes (up to 64 KiB).
#include "decoders.h"
#include "fuzz_support.h"
#include "reference_decoders.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz_compare_decoders(data, size, decode_lzss, reference_decode_lzss);
    return 0;
}
