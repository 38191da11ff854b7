// encode_round_trip_fuzzer.cpp: the packers on any bytes must decode
// back to those bytes, and the LZSS packer must not lose to the greedy one.
#include <vector>

#include "decoders.h"
#include "encoders.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::vector<uint8_t> out(size);
    const std::vector<uint8_t> lzss = encode_lzss(data, size);
    FUZZ_ASSERT(decode_lzss(out.data(), size, lzss.data(), lzss.size()) == size);
    FUZZ_ASSERT(size == 0 || std::equal(out.begin(), out.end(), data));
    FUZZ_ASSERT(lzss.size() <= encode_lzss_greedy(data, size).size());
    const std::vector<uint8_t> rle = encode_rle(data, size);
    FUZZ_ASSERT(decode_rle(out.data(), size, rle.data(), rle.size()) == size);
    FUZZ_ASSERT(size == 0 || std::equal(out.begin(), out.end(), data));
    return 0;
}
