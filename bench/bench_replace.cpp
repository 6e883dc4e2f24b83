// Replace on a 10 MB text holding 100,000 "<em>" highlights: the harvester's
// worst realistic case. A rebuild of the whole text per hit would be quadratic
// (about 10^12 byte copies here); the target is well under a second.
#include "common/TextOps.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

std::string MakeText() {
    std::string text;
    text.reserve(10'000'000);
    const std::string chunk = "<em>";
    const std::string filler(96, 'x');
    for (int i = 0; i < 100'000; ++i) {
        text += chunk;
        text += filler;
    }
    return text;  // 100,000 x 100 bytes = 10 MB
}

void BM_ReplaceEmTags(benchmark::State& state) {
    const std::string text = MakeText();
    for (auto _ : state) {
        std::string out = quill::Replace(text, "<em>", "");
        benchmark::DoNotOptimize(out);
        if (out.size() != text.size() - 400'000) {
            state.SkipWithError("wrong result size");
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_ReplaceEmTags)->Unit(benchmark::kMillisecond);

void BM_ReplaceGrowing(benchmark::State& state) {
    const std::string text = MakeText();
    for (auto _ : state) {
        std::string out = quill::Replace(text, "<em>", "<strong>");
        benchmark::DoNotOptimize(out);
    }
}
BENCHMARK(BM_ReplaceGrowing)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
