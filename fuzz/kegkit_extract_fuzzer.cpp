// kegkit_extract_fuzzer.cpp: kegkit extract on one archive, into the scratch
// folder. The first byte picks the revision (its low bits: 2.11, 2.12, 2.13,
// or 3: found by kegkit, as the layout that reads the most entries), PNG
// output (bit 2) and two threads (bit 3); the rest is the archive. Every file
// must land inside the scratch folder.
#include <filesystem>

#include "extract_options.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    const ScratchFolder scratch;
    const ArchiveLayout *layouts[] = {&LAYOUT_2_11, &LAYOUT_2_12, &LAYOUT_2_13, nullptr};
    fuzz_write_file("in.cgf", data + 1, size - 1);
    ExtractOptions o;
    o.layout = layouts[data[0] & 3];
    o.png = (data[0] & 4) != 0;
    o.jobs = (data[0] & 8) ? 2 : 1;
    o.output = "out";
    o.overwrite = true;
    o.archives = {"in.cgf"};
    // Bits 4-6 of the first byte: how names are read (auto, cp932, gbk, utf-8, raw).
    const NameEncoding encodings[] = {NAMES_AUTO, NAMES_CP932, NAMES_GBK, NAMES_UTF8, NAMES_RAW};
    o.names = encodings[(data[0] >> 4 & 7) % 5];
    const int status = run_extract(o);
    FUZZ_ASSERT(status == 0 || status == 1);
    // Nothing but the archive and the output folder.
    for (const auto &entry : std::filesystem::directory_iterator("."))
        FUZZ_ASSERT(entry.path().filename() == "in.cgf" || entry.path().filename() == "out");
    return 0;
}
