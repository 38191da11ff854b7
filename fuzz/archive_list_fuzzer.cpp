// archive_list_fuzzer.cpp: the listing of any bytes as an archive, with
// the revision to read it as taken from the first byte (or guessed), and
// from its higher bits how the names are read and shown.
#include <string>
#include <vector>

#include "archive_fit.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    const ArchiveLayout *layouts[] = {nullptr, &LAYOUT_2_11, &LAYOUT_2_12, &LAYOUT_2_13};
    const std::vector<uint8_t> archive(data + 1, data + size);
    const NameEncoding encodings[] = {NAMES_AUTO, NAMES_CP932, NAMES_GBK, NAMES_UTF8, NAMES_RAW};
    ListNames names;
    names.encoding = encodings[(data[0] >> 2) % 5];
    names.spelling = data[0] & 0x40 ? RAW_ESCAPED : RAW_AS_BYTES;
    names.show_bytes = (data[0] & 0x80) != 0;
    NameReading reading;
    std::string text, error;
    const bool listed =
        list_cgf(read_from_memory(archive), archive.size(), layouts[data[0] % 4], names, reading, text, error);
    FUZZ_ASSERT(listed ? text.rfind("fits: ", 0) == 0 : !error.empty());
    return 0;
}
