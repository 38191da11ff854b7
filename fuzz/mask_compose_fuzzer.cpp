// mask_compose_fuzzer.cpp: compose_with_mask on a picture and a mask cut
// from one input at the point the first two bytes give.
#include <vector>

#include "fuzz_support.h"
#include "mask_compose.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 2) return 0;
    const ScratchFolder scratch;
    size_t split = static_cast<size_t>(data[0]) << 8 | data[1];
    data += 2;
    size -= 2;
    if (split > size) split = size;
    // Exact-size copies, so that any read past either image is caught.
    const std::vector<uint8_t> picture(data, data + split), mask(data + split, data + size);
    try {
        if (compose_with_mask(picture.data(), picture.size(), mask.data(), mask.size(), "out.bmp")) {
            FUZZ_ASSERT(fuzz_file_size("out.bmp") >= 54);
        } else {
            FUZZ_ASSERT(fuzz_file_size("out.bmp") == -1);
        }
    } catch (const FatalExit &) {
    }
    return 0;
}
