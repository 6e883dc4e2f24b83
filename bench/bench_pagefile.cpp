// ReadPageFile and the article cut on a 50 MB page file, the size a broken or
// hostile hand-off page can reach.
#include "common/PageFile.h"
#include "common/QaArticle.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

std::filesystem::path MakeFile() {
    const auto path = std::filesystem::temp_directory_path() / "quillmint-bench-page.htm";
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    const std::string line = "<p>" + std::string(120, 'x') + "</p>\n";
    for (std::size_t written = 0; written < (50u << 20); written += line.size()) {
        out << line;
    }
    return path;
}

void BM_ReadPageFile50MB(benchmark::State& state) {
    const auto path = MakeFile();
    for (auto _ : state) {
        std::string text = quill::ReadPageFile(path, state.range(0));
        benchmark::DoNotOptimize(text);
    }
    std::filesystem::remove(path);
}
BENCHMARK(BM_ReadPageFile50MB)->Arg(0)->Arg(quill::kResultPageSkip)->Unit(benchmark::kMillisecond);

void BM_CutQaArticle50MB(benchmark::State& state) {
    const auto path = MakeFile();
    const std::string text = quill::ReadPageFile(path, 0);
    std::filesystem::remove(path);
    for (auto _ : state) {
        std::string article = quill::CutQaArticle(text);
        benchmark::DoNotOptimize(article);
    }
}
BENCHMARK(BM_CutQaArticle50MB)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
