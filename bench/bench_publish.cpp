// `quillmint publish` of a 300-file site next to lftp's `mirror -R`, both
// uploading to a loopback vsftpd through a relay that delays each direction
// by 25 ms, so that round trips cost what they cost on a real line. The relay
// also counts the commands each client sends.
//
// Usage: bench_publish [--rounds N] (default 3). Each round times lftp with
// 4 and 8 connections into an empty folder and with --only-newer over an
// unchanged one, then the program into an empty folder with no record, again
// with nothing changed, and after rewriting 10 files.
// Targets: a fresh publish within 0.75x lftp's --parallel=4 time; with nothing
// changed within 1.5 s and no file written, renamed or deleted; with 10 files
// changed within 3 s and exactly those sent. Medians over the rounds.
// Needs vsftpd, lftp and curl (all in scripts/deps.sh). Build in Release.
#include "BenchSupport.h"
#include "DelayRelay.h"

#include <sys/socket.h>
#include <sys/time.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace bench;
using Counts = DelayRelay::Counts;

constexpr auto kDelay = std::chrono::milliseconds(25);
constexpr int kPassivePorts = 50;
constexpr int kFiles = 300;
constexpr int kChanged = 10;

std::string readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeBytes(const fs::path& path, std::size_t size, std::uint32_t seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) {
        c = static_cast<char>(random() & 0xff);
    }
    std::ofstream(path, std::ios::binary) << bytes;
}

// The site: files of 2-40 KB in the root and three subfolders, the same on
// every run. Names are unique over the folders.
std::vector<fs::path> makeSite(const fs::path& site) {
    const char* folders[] = {"", "css", "img", "posts"};
    std::mt19937 random(20240611);
    std::vector<fs::path> files;
    for (int i = 0; i < kFiles; ++i) {
        const fs::path folder = site / folders[i % 4];
        fs::create_directories(folder);
        char name[32];
        std::snprintf(name, sizeof name, "f%03d.html", i);
        files.push_back(folder / name);
        writeBytes(files.back(), 2048 + random() % (38 * 1024 + 1), static_cast<std::uint32_t>(i));
    }
    return files;
}

// The first difference between two trees, empty when they hold the same files.
std::string compareTrees(const fs::path& local, const fs::path& remote) {
    if (!fs::is_directory(remote)) {
        return remote.native() + " missing";
    }
    std::set<fs::path> seen;
    for (const auto& entry : fs::recursive_directory_iterator(local)) {
        if (!entry.is_regular_file()) {
            continue;
        }
        const fs::path relative = fs::relative(entry.path(), local);
        seen.insert(relative);
        if (!fs::is_regular_file(remote / relative) ||
            readAll(entry.path()) != readAll(remote / relative)) {
            return relative.native() + " differs";
        }
    }
    for (const auto& entry : fs::recursive_directory_iterator(remote)) {
        if (entry.is_regular_file() && !seen.contains(fs::relative(entry.path(), remote))) {
            return "extra " + fs::relative(entry.path(), remote).native();
        }
    }
    return {};
}

std::string firstLine(const std::string& text) {
    return text.substr(0, text.find('\n'));
}

// Seconds from connecting to the greeting, and for one command after it.
std::pair<double, double> roundTrips(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    timeval limit{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    sockaddr_in to = loopback("127.0.0.1", port);
    auto line = [&] {
        char c = 0;
        while (::recv(fd, &c, 1, 0) == 1 && c != '\n') {
        }
    };
    auto start = Clock::now();
    ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to);
    line();
    const double greeting = secondsSince(start);
    start = Clock::now();
    ::send(fd, "NOOP\r\n", 6, MSG_NOSIGNAL);
    line();
    const double command = secondsSince(start);
    ::close(fd);
    return {greeting, command};
}

constexpr auto kRunLimit = std::chrono::seconds(300);

struct Run {
    int exit = -1;
    bool killed = false;  // ran past kRunLimit
    double seconds = 0;
    Counts counts;
    std::string output;
};

class Bench {
public:
    Bench(DelayRelay& relay, fs::path work) : m_relay(relay), m_work(std::move(work)) {}

    Run run(std::vector<std::string> args) {
        const fs::path output = m_work / "output.txt";
        m_relay.reset();
        const auto start = Clock::now();
        Run result;
        const pid_t pid = spawn(std::move(args), output.c_str(), true);
        std::mutex mutex;
        std::condition_variable ended;
        bool done = false;
        std::thread watchdog([&] {
            std::unique_lock lock(mutex);
            if (!ended.wait_for(lock, kRunLimit, [&] { return done; })) {
                result.killed = true;
                ::kill(pid, SIGKILL);
            }
        });
        // Left unreaped until the watchdog knows, so its kill cannot reach
        // another process under the same id.
        siginfo_t info{};
        ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT);
        result.seconds = secondsSince(start);
        {
            std::lock_guard lock(mutex);
            done = true;
        }
        ended.notify_one();
        watchdog.join();
        result.exit = waitFor(pid);
        // The last commands and closes may still be on their way.
        if (!m_relay.waitIdle(std::chrono::seconds(10))) {
            std::printf("  (connections still open after the client ended)\n");
        }
        result.counts = m_relay.counts();
        result.output = readAll(output);
        return result;
    }

private:
    DelayRelay& m_relay;
    fs::path m_work;
};

// Checks that every byte goes through the relay with its delay, over PASV
// and EPSV, and arrives unchanged.
bool checkRelay(Bench& runner, int port, const fs::path& work, const fs::path& serverUp) {
    bool ok = true;
    auto expect = [&](bool condition, const std::string& what) {
        std::printf("  %-62s %s\n", what.c_str(), condition ? "ok" : "FAILED");
        ok = ok && condition;
    };
    const auto [greeting, command] = roundTrips(port);
    char text[128];
    std::snprintf(text, sizeof text, "greeting after %.1f ms, a command's reply after %.1f ms",
                  greeting * 1e3, command * 1e3);
    expect(greeting >= 0.025 && command >= 0.050 && command < 0.080, text);

    const std::string base = "ftp://127.0.0.1:" + std::to_string(port) + "/up/check/";
    writeBytes(work / "tiny.bin", 100, 1);
    writeBytes(work / "big.bin", 1 << 20, 2);
    for (const bool epsv : {true, false}) {
        const std::string mode = epsv ? "EPSV" : "PASV";
        auto curl = [&](std::vector<std::string> args) {
            args.insert(args.begin(), {"curl", "-s", "-S", "--ftp-create-dirs"});
            if (!epsv) {
                args.push_back("--disable-epsv");
            }
            return runner.run(std::move(args));
        };
        const Run tiny = curl({"-T", (work / "tiny.bin").native(), base + "tiny.bin"});
        std::snprintf(text, sizeof text, "curl upload of 100 bytes over %s: %.0f ms, %d data link",
                      mode.c_str(), tiny.seconds * 1e3, tiny.counts.dataConnections);
        expect(tiny.exit == 0 && tiny.seconds >= 0.150 && tiny.counts[mode] == 1 &&
                   tiny.counts.dataConnections == 1,
               text);
        const Run up = curl({"-T", (work / "big.bin").native(), base + mode + ".bin"});
        const Run down = curl({"-o", (work / "down.bin").native(), base + mode + ".bin"});
        expect(up.exit == 0 && down.exit == 0 &&
                   readAll(serverUp / "check" / (mode + ".bin")) == readAll(work / "big.bin") &&
                   readAll(work / "down.bin") == readAll(work / "big.bin"),
               "1 MiB up and down over " + mode + " byte for byte");
    }
    return ok;
}

// One case over the rounds.
struct Case {
    explicit Case(std::string caseName) : name(std::move(caseName)) {}

    std::string name;
    Times times;
    std::vector<Counts> counts;
    std::string problem;  // the first, when any run went wrong
    bool skipped = false;

    void add(const Run& run, const std::string& problem = {}) {
        times.seconds.push_back(run.seconds);
        counts.push_back(run.counts);
        if (this->problem.empty()) {
            this->problem = problem;
        }
    }
    double perFile() const {
        double sum = 0;
        for (const Counts& c : counts) {
            sum += c.commands;
        }
        return sum / static_cast<double>(counts.size()) / kFiles;
    }
};

std::string whatWentWrong(const Run& run, const std::string& tree) {
    if (run.killed) {
        return "still running after " + std::to_string(kRunLimit.count()) + " s, killed";
    }
    if (run.exit != 0) {
        return "exit " + std::to_string(run.exit) + ": " + firstLine(run.output);
    }
    return tree.empty() ? std::string() : "remote " + tree;
}

// The names the program sent: the targets of its renames when it uploads
// under another name first, else of its STORs.
std::set<std::string> sentNames(const Counts& counts) {
    const std::string verb = counts["RNTO"] ? "RNTO" : "STOR";
    std::set<std::string> names;
    for (const std::string& line : counts.lines) {
        if (line.starts_with(verb + " ")) {
            names.insert(fs::path(line.substr(5)).filename().native());
        }
    }
    return names;
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);  // progress shows when piped
    int rounds = 3;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--rounds" && i + 1 < argc) {
            rounds = std::atoi(argv[++i]);
        } else {
            rounds = 0;
        }
    }
    if (rounds < 1) {
        std::fprintf(stderr, "usage: bench_publish [--rounds N]\n");
        return 2;
    }
    std::string pattern = (fs::temp_directory_path() / "quillmint-bench-XXXXXX").native();
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::fprintf(stderr, "cannot make a work folder\n");
        return 1;
    }
    const fs::path work = pattern;
    struct Cleanup {
        fs::path path;
        ~Cleanup() {
            std::error_code ec;
            fs::remove_all(path, ec);
        }
    } cleanup{work};
    const fs::path site = work / "site";
    const fs::path root = work / "root";
    const fs::path programFolder = work / "program";
    fs::create_directories(root / "up");
    fs::permissions(root / "up", fs::perms::all);
    // lftp reads no rc file of the user's and keeps its history here.
    ::setenv("HOME", work.c_str(), 1);
    ::setenv("QUILLMINT_PROGRAM_FOLDER", programFolder.c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);

    // vsftpd on 127.0.0.2, the relay on 127.0.0.1 with the same ports; the
    // passive replies name 127.0.0.1, so every connection goes through it.
    // vsftpd runs as the user who starts it and so does not chroot: remote
    // paths are the local paths of its folders.
    const int first = FindPortRange(1 + kPassivePorts);
    std::vector<int> passive;
    for (int port = first + 1; port <= first + kPassivePorts; ++port) {
        passive.push_back(port);
    }
    const std::string extra = "pasv_min_port=" + std::to_string(passive.front()) +
                              "\npasv_max_port=" + std::to_string(passive.back()) +
                              "\npasv_address=127.0.0.1\nanon_mkdir_write_enable=YES\n"
                              "max_clients=100\nmax_per_ip=100\n";
    Vsftpd server(root, work, extra, "127.0.0.2", first);
    DelayRelay relay(first, passive, kDelay);
    Bench runner(relay, work);
    const int port = first;

    std::printf("relay: %lld ms each way, control port %d, passive %d-%d\n",
                static_cast<long long>(kDelay.count()), port, passive.front(), passive.back());
    bool ok = checkRelay(runner, port, work, root / "up");

    std::vector<fs::path> files = makeSite(site);
    std::uintmax_t bytes = 0;
    for (const auto& file : files) {
        bytes += fs::file_size(file);
    }
    std::printf("site: %d files, %.1f MB, in %s\n", kFiles, static_cast<double>(bytes) / 1e6,
                site.c_str());

    // lftp as installed: only the login is given, everything else (passive
    // mode with PASV, TLS offered first, sync mode, setting each file's time
    // and mode after upload) is lftp's default.
    const std::string open = "open -u anonymous,x ftp://127.0.0.1:" + std::to_string(port) + "; ";
    auto lftp = [&](const std::string& mirror, const std::string& folder) {
        return runner.run(
            {"lftp", "-c",
             open + mirror + " " + site.native() + " " + (root / "up" / folder).native()});
    };
    auto publish = [&](const std::string& folder) {
        return runner.run(
            {QUILLMINT_BINARY, "publish", "bench", site.native(), (root / "up" / folder).native()});
    };
    auto freshProgramFolder = [&] {
        fs::remove_all(programFolder);
        fs::create_directories(programFolder);
        std::ofstream(programFolder / "bench.ftp")
            << "[PROFIL]\nsname=bench\nadresa=127.0.0.1\nID=anonymous\npass=x\nport=" << port
            << "\nprotocol=FTP\n";
    };

    Case lftp4{"lftp mirror -R --parallel=4, fresh"};
    Case lftp8{"lftp mirror -R --parallel=8, fresh"};
    Case lftpNewer{"lftp --parallel=4 --only-newer, unchanged"};
    Case fresh{"quillmint publish, fresh"};
    Case unchanged{"quillmint publish, nothing changed"};
    Case changed{"quillmint publish, 10 files changed"};
    std::string publishMissing;
    for (int round = 0; round < rounds; ++round) {
        std::printf("round %d\n", round + 1);
        fs::remove_all(root / "up" / "lftp");
        Run run = lftp("mirror -R --parallel=4", "lftp");
        lftp4.add(run, whatWentWrong(run, compareTrees(site, root / "up" / "lftp")));
        fs::remove_all(root / "up" / "lftp");
        run = lftp("mirror -R --parallel=8", "lftp");
        lftp8.add(run, whatWentWrong(run, compareTrees(site, root / "up" / "lftp")));
        run = lftp("mirror -R --parallel=4 --only-newer", "lftp");
        lftpNewer.add(run, whatWentWrong(run, {}));

        if (!publishMissing.empty()) {
            continue;
        }
        const fs::path remote = root / "up" / "qm";
        fs::remove_all(remote);
        freshProgramFolder();
        run = publish("qm");
        if (run.exit == 2) {
            publishMissing = firstLine(run.output);
            std::printf("  quillmint publish is not there yet (exit 2): %s\n",
                        publishMissing.c_str());
            for (Case* c : {&fresh, &unchanged, &changed}) {
                c->skipped = true;
            }
            continue;
        }
        fresh.add(run, whatWentWrong(run, compareTrees(site, remote)));

        run = publish("qm");
        std::string wrote;
        for (const char* verb : {"STOR", "APPE", "DELE", "RNTO"}) {
            if (run.counts[verb]) {
                wrote += std::string(wrote.empty() ? "sent " : ", ") + verb + " " +
                         std::to_string(run.counts[verb]);
            }
        }
        unchanged.add(run, run.exit != 0 ? whatWentWrong(run, {}) : wrote);

        // Same sizes, new bytes, other files each round.
        std::set<std::string> names;
        for (int k = 0; k < kChanged; ++k) {
            const fs::path& file = files[static_cast<std::size_t>((round * 37 + k * 29) % kFiles)];
            writeBytes(file, fs::file_size(file),
                       static_cast<std::uint32_t>(1000 + round * 50 + k));
            names.insert(file.filename().native());
        }
        run = publish("qm");
        std::string problem = whatWentWrong(run, compareTrees(site, remote));
        if (problem.empty() && (sentNames(run.counts) != names || run.counts["STOR"] != kChanged ||
                                run.counts["DELE"] != 0)) {
            problem = "sent STOR " + std::to_string(run.counts["STOR"]) + ", RNTO " +
                      std::to_string(run.counts["RNTO"]) + ", DELE " +
                      std::to_string(run.counts["DELE"]) + ", not the 10 changed files";
        }
        changed.add(run, problem);
    }

    // The table.
    std::printf("\n%-42s %9s %9s  %-20s %s\n", "case", "median", "min", "target", "result");
    auto row = [&](const Case& c, const std::string& target, std::optional<double> limit) {
        std::string result;
        if (c.skipped) {
            result = "FAIL: not run, " + publishMissing;
        } else if (!c.problem.empty()) {
            result = "FAIL: " + c.problem;
        } else if (limit) {
            result = c.times.median() <= *limit ? "PASS" : "FAIL";
        } else {
            result = "ok";
        }
        const bool failed = result.starts_with("FAIL");
        ok = ok && !failed;
        if (c.times.seconds.empty()) {
            std::printf("%-42s %9s %9s  %-20s %s\n", c.name.c_str(), "-", "-", target.c_str(),
                        result.c_str());
        } else {
            std::printf("%-42s %7.2f s %7.2f s  %-20s %s\n", c.name.c_str(), c.times.median(),
                        c.times.best(), target.c_str(), result.c_str());
        }
    };
    const double lftpLimit = 0.75 * lftp4.times.median();
    char target[64];
    row(lftp4, "(reference)", std::nullopt);
    row(lftp8, "(reference)", std::nullopt);
    row(lftpNewer, "(reference)", std::nullopt);
    std::snprintf(target, sizeof target, "<= %.2f s (0.75x)", lftpLimit);
    row(fresh, target, lftpLimit);
    row(unchanged, "<= 1.50 s, no writes", 1.5);
    row(changed, "<= 3.00 s, those 10", 3.0);

    // Each command costs a round trip unless the client sends the next one
    // before the reply.
    std::printf("\ncommands per file on the control connections (verbs of the last round):\n");
    for (const Case* c : {&lftp4, &lftp8, &lftpNewer, &fresh, &unchanged, &changed}) {
        if (c->counts.empty()) {
            continue;
        }
        std::string verbs;
        for (const auto& [verb, count] : c->counts.back().verbs) {
            verbs += " " + verb + " " + std::to_string(count);
        }
        std::printf("  %-42s %5.2f  %d+%d connections:%s\n", c->name.c_str(), c->perFile(),
                    c->counts.back().controlConnections, c->counts.back().dataConnections,
                    verbs.c_str());
    }
    return ok ? 0 : 1;
}
