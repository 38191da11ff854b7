// archive_list_fuzzer.cpp: the listing of any bytes as an archive,
// with the revision to read it as taken from the first byte (or guessed).
#include <string>
#include <vector>

#include "archive_fit.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    const ArchiveLayout *layouts[] = {nullptr, &LAYOUT_2_11, &LAYOUT_2_12, &LAYOUT_2_13};
    const std::vector<uint8_t> archive(data + 1, data + size);
    std::string text, error;
    const bool listed = list_cgf(read_from_memory(archive), archive.size(), layouts[data[0] % 4], text, error);
    FUZZ_ASSERT(listed ? text.rfind("fits: ", 0) == 0 : !error.empty());
    return 0;
}
