// lzss_decode_fuzzer.cpp: decode_lzss against the byte-at-a-time reference,
// with a capacity drawn from the first two bytes (up to 64 KiB).
#include <vector>

#include "decoders.h"
#include "fuzz_support.h"
#include "reference_decoders.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 2) return 0;
    const size_t capacity = static_cast<size_t>(data[0]) << 8 | data[1];
    std::vector<uint8_t> out(capacity), expect(capacity);
    const size_t n = decode_lzss(out.data(), capacity, data + 2, size - 2);
    const size_t m = reference_decode_lzss(expect.data(), capacity, data + 2, size - 2);
    FUZZ_ASSERT(n == m);
    FUZZ_ASSERT(n <= capacity);
    FUZZ_ASSERT(std::equal(out.begin(), out.begin() + static_cast<long>(n), expect.begin()));
    return 0;
}
