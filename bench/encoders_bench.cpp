// encoders_bench.cpp: the LZSS encoder (optimal parsing) against the
// greedy longest-match encoder on every picture of the benchmark set, in
// input bytes per second, with the packed size of each as a counter; and
// the optimal run-length encoder against the simple one. Every output is
// decoded back and compared before anything is timed.
#include <benchmark/benchmark.h>

#include <cstdio>

#include "bench_data.h"
#include "decoders.h"
#include "encoders.h"
#include "test_support.h"

namespace {

using Encoder = Bytes (*)(const BenchPicture &);

Bytes optimal_lzss(const BenchPicture &p) { return encode_lzss(p.file.data(), p.file.size()); }
Bytes greedy_lzss(const BenchPicture &p) { return encode_lzss_greedy(p.file.data(), p.file.size()); }
Bytes optimal_rle(const BenchPicture &p) { return encode_rle(p.file.data(), p.file.size()); }
Bytes simple_rle(const BenchPicture &p) { return encode_rle_simple(p.file); }

void run(benchmark::State &state, const BenchPicture *p, Encoder encode, bool lzss) {
    const Bytes packed = encode(*p);
    Bytes out(p->file.size());
    const size_t n = lzss ? decode_lzss(out.data(), out.size(), packed.data(), packed.size())
                          : decode_rle(out.data(), out.size(), packed.data(), packed.size());
    if (n != out.size() || out != p->file) {
        state.SkipWithError("does not decode back");
        return;
    }
    for (auto _ : state) benchmark::DoNotOptimize(encode(*p));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * p->file.size()));
    state.counters["packed_bytes"] = static_cast<double>(packed.size());
}

}  // namespace

int main(int argc, char **argv) {
    static const std::vector<BenchPicture> set = load_picture_set();
    for (const BenchPicture &p : set) {
        benchmark::RegisterBenchmark(("encode-lzss/optimal/" + p.name).c_str(), run, &p, optimal_lzss, true)->Iterations(1);
        benchmark::RegisterBenchmark(("encode-lzss/greedy/" + p.name).c_str(), run, &p, greedy_lzss, true)->Iterations(1);
        benchmark::RegisterBenchmark(("encode-rle/optimal/" + p.name).c_str(), run, &p, optimal_rle, false)->Iterations(1);
        benchmark::RegisterBenchmark(("encode-rle/simple/" + p.name).c_str(), run, &p, simple_rle, false)->Iterations(1);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
