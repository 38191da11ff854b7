// names_bench.cpp: reading and writing the names of a 20,000-entry table in
// their code page, against copying them as they are (what the commands did
// before names were read), in names per second. Every reading is checked to
// take the expected encoding and to write back to the stored bytes before
// anything is timed.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "name_encoding.h"

namespace {

constexpr int NAMES = 20000;

// "背景00000" ... in cp932, "人物00000" ... in gbk (a lead byte before a digit: no cp932).
std::vector<std::string> table(const char *prefix) {
    std::vector<std::string> names;
    for (int i = 0; i < NAMES; ++i) {
        char digits[8];
        std::snprintf(digits, sizeof digits, "%05d", i);
        names.push_back(prefix + std::string(digits));
    }
    return names;
}

const std::vector<std::string> &ascii() {
    static const std::vector<std::string> t = table("bg");
    return t;
}
const std::vector<std::string> &cp932() {
    static const std::vector<std::string> t = table("\x94\x77\x8C\x69");
    return t;
}
const std::vector<std::string> &gbk() {
    static const std::vector<std::string> t = table("\xC8\xCB\xCE\xEF");
    return t;
}

void copy_as_stored(benchmark::State &state, const std::vector<std::string> *stored) {
    for (auto _ : state) {
        std::vector<std::string> names = *stored;
        benchmark::DoNotOptimize(names.data());
    }
    state.SetItemsProcessed(state.iterations() * NAMES);
}

void read(benchmark::State &state, const std::vector<std::string> *stored, NameEncoding wanted, NameEncoding taken) {
    NameReading reading;
    NameWriting writing;
    if (!read_names(*stored, wanted, RAW_ESCAPED, reading) || reading.encoding != taken ||
        !write_names(reading.names, taken, RAW_ESCAPED, writing) || writing.bytes != *stored) {
        state.SkipWithError("does not read as expected, or write back");
        return;
    }
    for (auto _ : state) {
        read_names(*stored, wanted, RAW_ESCAPED, reading);
        benchmark::DoNotOptimize(reading.names.data());
    }
    state.SetItemsProcessed(state.iterations() * NAMES);
}

void write(benchmark::State &state, const std::vector<std::string> *stored, NameEncoding taken) {
    NameReading reading;
    read_names(*stored, taken, RAW_ESCAPED, reading);
    NameWriting writing;
    for (auto _ : state) {
        write_names(reading.names, NAMES_AUTO, RAW_ESCAPED, writing);
        benchmark::DoNotOptimize(writing.bytes.data());
    }
    if (writing.encoding != taken || writing.bytes != *stored) state.SkipWithError("does not write back");
    state.SetItemsProcessed(state.iterations() * NAMES);
}

}  // namespace

BENCHMARK_CAPTURE(copy_as_stored, cp932, &cp932());
BENCHMARK_CAPTURE(read, ascii_auto, &ascii(), NAMES_AUTO, NAMES_UTF8);
BENCHMARK_CAPTURE(read, cp932_auto, &cp932(), NAMES_AUTO, NAMES_CP932);
BENCHMARK_CAPTURE(read, cp932_given, &cp932(), NAMES_CP932, NAMES_CP932);
BENCHMARK_CAPTURE(read, gbk_auto, &gbk(), NAMES_AUTO, NAMES_GBK);
BENCHMARK_CAPTURE(read, cp932_raw, &cp932(), NAMES_RAW, NAMES_RAW);
BENCHMARK_CAPTURE(write, cp932_auto, &cp932(), NAMES_CP932);
BENCHMARK_MAIN();
