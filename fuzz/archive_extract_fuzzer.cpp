// archive_extract_fuzzer.cpp: the whole kegsplit driver on one archive. The
// first byte picks the revision (mod 3: 2.11, 2.12, 2.13); the rest is the
// archive, written to the scratch folder, where the outputs land too.
#include <new>

#include "extract.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    const ScratchFolder scratch;
    const ArchiveLayout *layouts[] = {&LAYOUT_2_11, &LAYOUT_2_12, &LAYOUT_2_13};
    const ArchiveLayout &layout = *layouts[data[0] % 3];
    fuzz_write_file("in.cgf", data + 1, size - 1);
    try {
        FUZZ_ASSERT(extract_archive("in.cgf", layout) == 0);
    } catch (const FatalExit &) {
    }
    return 0;
}
