// standalone_main.cpp: runs a harness over files and folders of inputs, for
// any compiler; ctest uses it to replay the seed corpora and every input
// that once made a harness fail.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace fs = std::filesystem;

static void run_file(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
}

int main(int argc, char **argv) {
    size_t count = 0;
    for (int i = 1; i < argc; ++i) {
        const fs::path root = fs::absolute(argv[i]);
        if (!fs::exists(root)) continue;
        std::vector<fs::path> files;
        if (fs::is_directory(root)) {
            for (const auto &e : fs::recursive_directory_iterator(root))
                if (e.is_regular_file()) files.push_back(e.path());
        } else {
            files.push_back(root);
        }
        std::sort(files.begin(), files.end());
        for (const fs::path &f : files) {
            run_file(f);
            ++count;
        }
    }
    std::printf("replayed %zu inputs\n", count);
    return count == 0 ? 1 : 0;
}
