// decoders_bench.cpp: decode_lzss, decode_rle and stored mode on every
// picture of the benchmark set, in decoded bytes per second, beside the
// byte-at-a-time reference decoders and memcpy of the same bytes. Every
// decoder's output is checked against the picture before anything is timed.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>

#include "bench_data.h"
#include "decoders.h"
#include "encoders.h"
#include "reference_decoders.h"
#include "test_support.h"

namespace {

using Decoder = size_t (*)(uint8_t *, size_t, const uint8_t *, size_t);

size_t stored_copy(uint8_t *out, size_t out_size, const uint8_t *in, size_t in_size) {
    const size_t n = out_size < in_size ? out_size : in_size;
    std::memcpy(out, in, n);
    return n;
}

void check(const char *what, const BenchPicture &p, Decoder decode, const Bytes &packed) {
    Bytes out(p.file.size());
    const size_t n = decode(out.data(), out.size(), packed.data(), packed.size());
    if (n != out.size() || out != p.file) {
        std::fprintf(stderr, "%s gives the wrong bytes for %s\n", what, p.name.c_str());
        std::exit(1);
    }
}

void run(benchmark::State &state, const BenchPicture *p, Decoder decode, const Bytes *packed) {
    Bytes out(p->file.size());
    for (auto _ : state) {
        benchmark::DoNotOptimize(decode(out.data(), out.size(), packed->data(), packed->size()));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * out.size()));
    state.counters["packed_ratio"] = static_cast<double>(packed->size()) / static_cast<double>(out.size());
}

}  // namespace

int main(int argc, char **argv) {
    static const std::vector<BenchPicture> set = load_picture_set();
    static std::vector<Bytes> lzss(set.size()), rle(set.size());
    for (size_t i = 0; i < set.size(); ++i) {
        const BenchPicture &p = set[i];
        lzss[i] = encode_lzss_greedy(p.file.data(), p.file.size());
        rle[i] = encode_rle_simple(p.file);
        check("decode_lzss", p, decode_lzss, lzss[i]);
        check("reference lzss", p, reference_decode_lzss, lzss[i]);
        check("decode_rle", p, decode_rle, rle[i]);
        check("reference rle", p, reference_decode_rle, rle[i]);
        const std::string n = p.name;
        benchmark::RegisterBenchmark(("lzss/fast/" + n).c_str(), run, &p, decode_lzss, &lzss[i]);
        benchmark::RegisterBenchmark(("lzss/reference/" + n).c_str(), run, &p, reference_decode_lzss, &lzss[i]);
        benchmark::RegisterBenchmark(("rle/fast/" + n).c_str(), run, &p, decode_rle, &rle[i]);
        benchmark::RegisterBenchmark(("rle/reference/" + n).c_str(), run, &p, reference_decode_rle, &rle[i]);
        benchmark::RegisterBenchmark(("stored/memcpy/" + n).c_str(), run, &p, stored_copy, &p.file);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
