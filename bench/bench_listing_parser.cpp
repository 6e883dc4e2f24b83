// A hostile listing fed to the parser in 16 KiB pieces, as curl hands it over:
// 300,000 junk lines (under 1 MB once took 50 s and 945 MiB in the window),
// and 8 MiB of one lone LF followed by CRs (once quadratic). Peak memory is
// the process's maximum resident size after the run, reported as a counter.
#include "net/FtpListParser.h"

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <string>

namespace {

constexpr std::size_t kPiece = 16 * 1024;

double peakMiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

void feedAll(benchmark::State& state, const std::string& listing) {
    for (auto _ : state) {
        quill::FtpListReader reader(false, quill::FtpToday{2026, 12, 9});
        for (std::size_t at = 0; at < listing.size(); at += kPiece) {
            reader.feed(std::string_view(listing).substr(at, kPiece));
        }
        reader.finish();
        if (reader.skipped.size() > quill::FtpListReader::kKeptSkipped) {
            state.SkipWithError("skipped lines were not capped");
        }
        benchmark::DoNotOptimize(reader.skippedCount);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(listing.size()));
    state.counters["peak_MiB"] = peakMiB();
}

void BM_JunkLines(benchmark::State& state) {
    std::string listing;
    for (int i = 0; i < 300'000; ++i) {
        listing += "x\r\n";
    }
    feedAll(state, listing);
}
BENCHMARK(BM_JunkLines)->Unit(benchmark::kMillisecond);

void BM_LoneLfThenCrs(benchmark::State& state) {
    std::string listing = "\n";
    listing.append(8 * 1024 * 1024, '\r');
    feedAll(state, listing);
}
BENCHMARK(BM_LoneLfThenCrs)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
