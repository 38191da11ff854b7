#include "fuzz_support.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <cstring>
#include <vector>

#include "fatal.h"

namespace {

[[noreturn]] void throw_fatal(int) { throw FatalExit{}; }

std::string g_scratch;
std::string g_home;

void clear_current_folder() {
    std::error_code ec;
    for (const auto &entry : std::filesystem::directory_iterator(".", ec)) std::filesystem::remove_all(entry.path(), ec);
}

}  // namespace

ScratchFolder::ScratchFolder() {
    if (g_scratch.empty()) {
        set_fatal_handler(throw_fatal);
        struct stat st;
        std::string pattern = (stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) ? "/dev/shm" : "/tmp");
        pattern += "/kegkit-fuzz-XXXXXX";
        char cwd[4096];
        if (!mkdtemp(pattern.data()) || !getcwd(cwd, sizeof cwd)) std::abort();
        g_scratch = pattern;
        g_home = cwd;
    }
    if (chdir(g_scratch.c_str()) != 0) std::abort();
}

ScratchFolder::~ScratchFolder() {
    clear_current_folder();
    if (chdir(g_home.c_str()) != 0) std::abort();
}

void fuzz_write_file(const std::string &name, const uint8_t *data, size_t size) {
    FILE *f = std::fopen(name.c_str(), "wb");
    if (!f) std::abort();
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
}

long long fuzz_file_size(const std::string &name) {
    struct stat st;
    return stat(name.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

void fuzz_compare_decoders(const uint8_t *data, size_t size, FuzzDecoder decoder, FuzzDecoder reference) {
    if (size < 2) return;
    const size_t capacity = static_cast<size_t>(data[0]) << 8 | data[1];
    std::vector<uint8_t> out(capacity), expect(capacity);
    const size_t n = decoder(out.data(), capacity, data + 2, size - 2);
    const size_t m = reference(expect.data(), capacity, data + 2, size - 2);
    FUZZ_ASSERT(n == m);
    FUZZ_ASSERT(n <= capacity);
    FUZZ_ASSERT(std::equal(out.begin(), out.begin() + static_cast<long>(n), expect.begin()));
}

uint64_t fuzz_bmp_buffer_size(const uint8_t *data, size_t size) {
    uint8_t h[54] = {};
    std::memcpy(h, data, size < 54 ? size : 54);
    auto le32 = [&](int at) { return static_cast<int32_t>(h[at] | h[at + 1] << 8 | h[at + 2] << 16 | static_cast<uint32_t>(h[at + 3]) << 24); };
    const uint64_t w = static_cast<uint64_t>(std::llabs(static_cast<long long>(le32(18))));
    const uint64_t rows = static_cast<uint64_t>(std::llabs(static_cast<long long>(le32(22))));
    const uint64_t bpp = static_cast<uint64_t>(h[28] | h[29] << 8) / 8;
    const uint64_t stride = (w * bpp + 3) & ~uint64_t{3};
    if (stride > (uint64_t{1} << 32)) return UINT64_MAX;
    return rows * stride;
}

bool fuzz_picture_wanted(const uint8_t *data, size_t size) {
    const uint64_t wanted = fuzz_bmp_buffer_size(data, size);
    return wanted <= FUZZ_MAX_PICTURE_BYTES || wanted > static_cast<uint64_t>(INT32_MAX);
}
