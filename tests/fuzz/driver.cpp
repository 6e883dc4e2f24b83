// Runs a fuzz target without libFuzzer: every file of a corpus folder, then
// inputs made from the corpus by deterministic mutations, so a run can be
// repeated exactly. Under the sanitizers any finding aborts the run.
//
//   fuzz_<target> CORPUS_FOLDER [GENERATED_COUNT] [SEED]
//   fuzz_<target> FILE            (one input, e.g. a saved finding)

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
// Present when built with a sanitizer.
extern "C" void __sanitizer_set_death_callback(void (*callback)()) __attribute__((weak));

namespace {

// splitmix64: small, fast and the same everywhere.
class Random {
public:
    explicit Random(std::uint64_t seed) : m_state(seed) {}
    std::uint64_t next() {
        std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    std::size_t below(std::size_t n) { return n == 0 ? 0 : static_cast<std::size_t>(next() % n); }

private:
    std::uint64_t m_state;
};

// Pieces the parsers look for, so mutations reach past their first checks.
constexpr std::string_view kTokens[] = {
    "<h3 class=",
    "</a></h3>",
    "class=l ",
    "<meta",
    "<em>",
    "</em>",
    "\"",
    ">",
    "<h1 class=\"subject\">",
    "<ul class=\"meta\">",
    "<div class=\"content\">",
    "<h1>Answer</h1>",
    "\r\n",
    "\n",
    "\r",
    "[PROFIL]",
    "sname=",
    "adresa=",
    "ID=",
    "pass=",
    "port=",
    "=",
    " ",
    "\t",
    "Jan",
    "Dec",
    "AM",
    "PM",
    ":",
    "-",
    "12-08-26  01:28AM",
    "Dec 08 01:20",
    "Jan 02  2020",
    "\xC3\xA9",
    "\xFF",
    std::string_view("\0", 1),
};

constexpr std::size_t kMaxGrown = 1 << 16;

void Mutate(std::string& s, const std::vector<std::string>& corpus, Random& random) {
    const int steps = 1 + static_cast<int>(random.below(8));
    for (int i = 0; i < steps; ++i) {
        const std::size_t at = random.below(s.size() + 1);
        switch (random.below(8)) {
            case 0:  // flip a bit
                if (!s.empty()) {
                    s[random.below(s.size())] ^= static_cast<char>(1 << random.below(8));
                }
                break;
            case 1:  // any byte
                if (!s.empty()) {
                    s[random.below(s.size())] = static_cast<char>(random.below(256));
                }
                break;
            case 2: {  // insert random bytes
                std::string bytes(1 + random.below(16), '\0');
                for (char& c : bytes) {
                    c = static_cast<char>(random.below(256));
                }
                s.insert(at, bytes);
                break;
            }
            case 3:  // remove a stretch
                s.erase(at, 1 + random.below(64));
                break;
            case 4: {  // repeat a stretch
                const std::string piece = s.substr(at, 1 + random.below(256));
                s.insert(random.below(s.size() + 1), piece);
                break;
            }
            case 5:
            case 6: {  // insert a token
                const auto token = kTokens[random.below(std::size(kTokens))];
                s.insert(at, token.data(), token.size());
                break;
            }
            default: {  // splice in part of another input
                const std::string& other = corpus[random.below(corpus.size())];
                const std::size_t from = random.below(other.size() + 1);
                s.insert(at, other.substr(from, 1 + random.below(512)));
                break;
            }
        }
        if (s.size() > kMaxGrown) {
            s.resize(kMaxGrown);
        }
    }
}

// The input being run, written to "fuzz-finding" in the working folder when
// the run dies on it, so the finding can be run again alone.
const std::string* g_current = nullptr;

void SaveCurrentInput() {
    if (g_current == nullptr) {
        return;
    }
    if (std::FILE* file = std::fopen("fuzz-finding", "wb")) {
        std::fwrite(g_current->data(), 1, g_current->size(), file);
        std::fclose(file);
        std::fputs("the input is saved as fuzz-finding in the working folder\n", stderr);
    }
    g_current = nullptr;
}

extern "C" void OnAbort(int) {
    SaveCurrentInput();
    std::signal(SIGABRT, SIG_DFL);
    std::abort();
}

int Run(const std::string& input) {
    g_current = &input;
    const int result =
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(input.data()), input.size());
    g_current = nullptr;
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s CORPUS_FOLDER [GENERATED_COUNT] [SEED]\n", argv[0]);
        return 2;
    }
    const long generated = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 10000;
    const std::uint64_t seed = argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 20120308;

    std::signal(SIGABRT, OnAbort);
    if (__sanitizer_set_death_callback != nullptr) {
        __sanitizer_set_death_callback(SaveCurrentInput);
    }

    std::vector<std::filesystem::path> files;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(argv[1], error)) {
        if (entry.is_regular_file()) {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    if (std::filesystem::is_regular_file(argv[1])) {
        files.push_back(argv[1]);
    }
    if (files.empty()) {
        std::fprintf(stderr, "no corpus in %s\n", argv[1]);
        return 2;
    }
    std::vector<std::string> corpus{std::string()};
    for (const auto& file : files) {
        std::ifstream in(file, std::ios::binary);
        corpus.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    const auto start = std::chrono::steady_clock::now();
    auto slowest = std::chrono::steady_clock::duration::zero();
    auto timed = [&](const std::string& input) {
        const auto before = std::chrono::steady_clock::now();
        Run(input);
        slowest = std::max(slowest, std::chrono::steady_clock::now() - before);
    };
    for (const auto& input : corpus) {
        timed(input);
    }
    Random random(seed);
    for (long i = 0; i < generated; ++i) {
        std::string input = corpus[random.below(corpus.size())];
        Mutate(input, corpus, random);
        timed(input);
    }
    using std::chrono::duration_cast;
    using std::chrono::milliseconds;
    std::printf(
        "%zu corpus inputs and %ld generated inputs (seed %llu): no finding; %lld ms, "
        "slowest input %lld ms\n",
        corpus.size(), generated, static_cast<unsigned long long>(seed),
        static_cast<long long>(
            duration_cast<milliseconds>(std::chrono::steady_clock::now() - start).count()),
        static_cast<long long>(duration_cast<milliseconds>(slowest).count()));
    return 0;
}
