// merge_record_fuzzer.cpp: the palimp driver on an event table and two
// pictures cut from one input:
//   bytes 0-3     the table's count field (records follow as far as they go)
//   bytes 4-87    the first record, whose base and delta names are kept
//   bytes 88-95   placements of the base and delta files (two int16 each)
//   bytes 96-97   where the rest splits into the base and delta files
// An input of odd length runs with -cleanup.
#include <string>

#include "bmp.h"
#include "fuzz_support.h"
#include "merge.h"

namespace {

std::string field_name(const uint8_t *field) {
    size_t n = 0;
    while (n < 16 && field[n]) ++n;
    return std::string(reinterpret_cast<const char *>(field), n);
}

std::string picture_file(const std::string &name, const uint8_t *placement) {
    const int x = static_cast<int16_t>(placement[0] | placement[1] << 8);
    const int y = static_cast<int16_t>(placement[2] | placement[3] << 8);
    if (x == 0 && y == 0) return name + ".bmp";
    return name + "+x" + std::to_string(x) + "y" + std::to_string(y) + ".bmp";
}

bool safe_file_name(const std::string &name) { return name.find('/') == std::string::npos && name != "." && name != ".."; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 98) return 0;
    const ScratchFolder scratch;
    const std::string base = field_name(data + 4 + 16), delta = field_name(data + 4 + 32);
    size_t split = static_cast<size_t>(data[96]) << 8 | data[97];
    const uint8_t *pictures = data + 98;
    const size_t pictures_size = size - 98;
    if (split > pictures_size) split = pictures_size;
    if (!fuzz_picture_wanted(pictures, split) || !fuzz_picture_wanted(pictures + split, pictures_size - split)) return 0;

    fuzz_write_file("evinfo.bin", data, 88);
    const std::string base_file = picture_file(base, data + 88), delta_file = picture_file(delta, data + 92);
    if (safe_file_name(base_file)) fuzz_write_file(base_file, pictures, split);
    if (safe_file_name(delta_file)) fuzz_write_file(delta_file, pictures + split, pictures_size - split);
    try {
        FUZZ_ASSERT(merge_events("evinfo.bin", size % 2 == 1) == 0);
    } catch (const FatalExit &) {
    }
    return 0;
}
