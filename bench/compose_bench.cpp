// compose_bench.cpp: compose_with_mask's pixels and composite_delta on the
// benchmark set, in pixels per second, beside the per-pixel references of
// the same arithmetic. Outputs are compared byte for byte before timing.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>

#include "bench_data.h"
#include "composite.h"
#include "mask_compose.h"
#include "reference_compose.h"

namespace {

struct ComposeCase {
    const BenchPicture *picture;
    Bytes mask;
};

// Both sides write into one buffer from iteration to iteration, as the
// programs do from picture to picture: what is timed is the pixels.
void compose_fast(benchmark::State &state, const ComposeCase *c) {
    ComposedPicture out;
    for (auto _ : state) {
        benchmark::DoNotOptimize(compose_mask_pixels(c->picture->file.data(), c->picture->file.size(), c->mask.data(),
                                                     c->mask.size(), out));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * c->picture->width * c->picture->height);
}

void compose_reference(benchmark::State &state, const ComposeCase *c) {
    std::unique_ptr<uint8_t[]> out(new uint8_t[size_t{c->picture->width} * c->picture->height * 4]);
    for (auto _ : state) {
        reference_compose_mask(c->picture->file.data(), c->mask.data(), c->mask.size(), out.get());
        benchmark::DoNotOptimize(out.get());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * c->picture->width * c->picture->height);
}

struct DeltaCase {
    PixelBuffer base, delta;
    int64_t dx, dy;
};

PixelBuffer copy_of(const PixelBuffer &p) {
    PixelBuffer q;
    q.width = p.width;
    q.height = p.height;
    q.bytes_per_pixel = p.bytes_per_pixel;
    q.stride = p.stride;
    q.size = p.size;
    q.pixels.reset(new uint8_t[p.size]);
    std::memcpy(q.pixels.get(), p.pixels.get(), p.size);
    return q;
}

template <bool Fast>
void delta_run(benchmark::State &state, const DeltaCase *c) {
    PixelBuffer base = copy_of(c->base);
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(base.pixels.get(), c->base.pixels.get(), base.size);
        state.ResumeTiming();
        if (Fast)
            benchmark::DoNotOptimize(composite_delta(base, c->delta, c->dx, c->dy));
        else
            reference_composite_delta(base, c->delta, c->dx, c->dy);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * c->delta.width * c->delta.height);
}

}  // namespace

int main(int argc, char **argv) {
    static const std::vector<BenchPicture> set = load_picture_set();
    static std::vector<ComposeCase> composes;
    static std::vector<DeltaCase> deltas;
    composes.reserve(set.size());
    deltas.reserve(set.size() * 3);
    uint32_t seed = 1;
    for (const BenchPicture &p : set) {
        composes.push_back({&p, make_figure_mask(p.width, p.height, seed++)});
        const ComposeCase &c = composes.back();
        ComposedPicture fast;
        const bool composed = compose_mask_pixels(p.file.data(), p.file.size(), c.mask.data(), c.mask.size(), fast);
        std::unique_ptr<uint8_t[]> ref(new uint8_t[size_t{p.width} * p.height * 4]);
        reference_compose_mask(p.file.data(), c.mask.data(), c.mask.size(), ref.get());
        if (!composed || fast.size != static_cast<int32_t>(p.width * p.height * 4) ||
            std::memcmp(fast.pixels.get(), ref.get(), fast.size) != 0) {
            std::fprintf(stderr, "compose_with_mask differs from the reference on %s\n", p.name.c_str());
            return 1;
        }
        benchmark::RegisterBenchmark(("compose/fast/" + p.name).c_str(), compose_fast, &c);
        benchmark::RegisterBenchmark(("compose/reference/" + p.name).c_str(), compose_reference, &c);

        // A figure delta of 60% of the picture's size, placed right of centre.
        const uint32_t dw = p.width * 6 / 10, dh = p.height * 6 / 10;
        const struct { const char *kind; int bpp; bool opaque; uint32_t base_seed; } bases[] = {
            {"base3", 3, true, 0}, {"base4-opaque", 4, true, 0}, {"base4-translucent", 4, false, seed + 50}};
        for (const auto &b : bases) {
            DeltaCase d{pixels_from_bmp(p.file, b.bpp, b.opaque, b.base_seed),
                        pixels_from_bmp(p.file, 4, false, seed, dw, dh), p.width / 3, p.height / 5};
            if (!b.opaque) {  // translucent everywhere: the figure's alpha, never quite 0
                for (uint32_t i = 0; i < d.base.width * d.base.height; ++i) {
                    uint8_t &a = d.base.pixels[(i / d.base.width) * d.base.stride + (i % d.base.width) * 4 + 3];
                    a = static_cast<uint8_t>(40 + a * 180 / 255);
                }
            }
            PixelBuffer fast = copy_of(d.base), ref = copy_of(d.base);
            composite_delta(fast, d.delta, d.dx, d.dy);
            reference_composite_delta(ref, d.delta, d.dx, d.dy);
            if (std::memcmp(fast.pixels.get(), ref.pixels.get(), fast.size) != 0) {
                std::fprintf(stderr, "composite_delta differs from the reference on %s %s\n", p.name.c_str(), b.kind);
                return 1;
            }
            deltas.push_back(std::move(d));
            const DeltaCase *dc = &deltas.back();
            benchmark::RegisterBenchmark(("delta/fast/" + std::string(b.kind) + "/" + p.name).c_str(), delta_run<true>, dc);
            benchmark::RegisterBenchmark(("delta/reference/" + std::string(b.kind) + "/" + p.name).c_str(), delta_run<false>, dc);
        }
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
