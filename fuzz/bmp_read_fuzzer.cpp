// bmp_read_fuzzer.cpp: read_bmp on any file (the first byte gives the
// flags), then write -> read must give the same pixels back.
#include <cstring>

#include "bmp.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    const ScratchFolder scratch;
    const uint32_t flags = data[0] & 0x1F;
    if (!fuzz_picture_wanted(data + 1, size - 1)) return 0;
    fuzz_write_file("in.bmp", data + 1, size - 1);
    try {
        PixelBuffer p;
        read_bmp("in.bmp", p, flags);
        FUZZ_ASSERT(static_cast<uint64_t>(p.size) == uint64_t{p.height} * static_cast<uint64_t>(p.stride));
        if (p.bytes_per_pixel > 0 && p.bytes_per_pixel <= 4 && p.stride % 4 == 0) {
            write_bmp("out.bmp", p.pixels.get(), p.size, p.width, p.height, static_cast<uint32_t>(p.bytes_per_pixel), 0);
            PixelBuffer q;
            read_bmp("out.bmp", q, 0);
            FUZZ_ASSERT(q.size == p.size && q.width == p.width && q.height == p.height);
            FUZZ_ASSERT(q.size == 0 || std::memcmp(q.pixels.get(), p.pixels.get(), static_cast<size_t>(q.size)) == 0);
        }
    } catch (const FatalExit &) {
    }
    return 0;
}
