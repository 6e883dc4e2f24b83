#include "SshServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string_view>
#include <thread>
#include <tuple>
#include <vector>

#include "ChildProcess.h"
#include "FtpServer.h"

namespace quill::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kSshd = "/usr/sbin/sshd";
constexpr const char* kKeygen = "/usr/bin/ssh-keygen";
constexpr const char* kUseradd = "/usr/sbin/useradd";
constexpr const char* kChpasswd = "/usr/sbin/chpasswd";

// sshd's config and internal-sftp's own argument split know no quoting, and
// internal-sftp expands '%'.
fs::path PlainPath(const fs::path& path, const std::string& what) {
    const fs::path absolute = fs::absolute(path).lexically_normal();
    for (const char c : absolute.native()) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= ' ' || byte >= 0x7f ||
            std::string_view("\"'\\#%").find(c) != std::string_view::npos) {
            throw std::runtime_error(what + " cannot go into an sshd config: " + absolute.string());
        }
    }
    return absolute;
}

bool FindAccount(const std::string& user, uid_t& uid, gid_t& gid) {
    passwd entry{};
    passwd* found = nullptr;
    std::vector<char> buffer(16384);
    ::getpwnam_r(user.c_str(), &entry, buffer.data(), buffer.size(), &found);
    if (found == nullptr) {
        return false;
    }
    uid = found->pw_uid;
    gid = found->pw_gid;
    return true;
}

void PrepareAccount(const SshServerOptions& options, uid_t& uid, gid_t& gid) {
    const auto& user = options.user;
    if (user.empty() || user.front() == '-' ||
        user.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789_-") != std::string::npos) {
        throw std::runtime_error("not a test account name: " + user);
    }
    if (options.password.empty() || options.password.find_first_of(":\n") != std::string::npos) {
        throw std::runtime_error("chpasswd cannot set the password: " + options.password);
    }
    if (!FindAccount(user, uid, gid)) {
        const auto added = RunProgram({kUseradd, "--system", "--no-create-home", "--home-dir", "/",
                                       "--shell", "/usr/sbin/nologin", user});
        // Another test may have made it in the meantime.
        if (!FindAccount(user, uid, gid)) {
            throw std::runtime_error("cannot make the account " + user + ": " + added.output);
        }
    }
    // chpasswd gives up while another process holds the lock on the account files.
    ProgramResult set;
    for (int attempt = 0; attempt < 20; ++attempt) {
        set = RunProgram({kChpasswd}, user + ":" + options.password + "\n");
        if (set.exitCode == 0) {
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    throw std::runtime_error("cannot set the password of " + user + ": " + set.output);
}

// Makes the key when missing; returns its public key line and fingerprint.
std::pair<std::string, std::string> PrepareHostKey(const fs::path& key) {
    fs::path publicKey = key;
    publicKey += ".pub";
    if (!fs::exists(key)) {
        const auto made = RunProgram(
            {kKeygen, "-q", "-t", "ed25519", "-N", "", "-C", "quillmint-test", "-f", key.string()});
        if (made.exitCode != 0) {
            throw std::runtime_error("ssh-keygen cannot make a host key: " + made.output);
        }
    } else {
        // sshd ignores a host key that others may read.
        fs::permissions(key, fs::perms::owner_read | fs::perms::owner_write);
        if (!fs::exists(publicKey)) {
            const auto derived = RunProgram({kKeygen, "-y", "-f", key.string()});
            if (derived.exitCode != 0) {
                throw std::runtime_error("not a host key: " + key.string() + ": " + derived.output);
            }
            WriteBytes(publicKey, derived.output);
        }
    }
    std::string line = ReadBytes(publicKey);
    line.erase(line.find_last_not_of("\r\n") + 1);
    // "256 SHA256:... quillmint-test (ED25519)"
    const auto listed = RunProgram({kKeygen, "-lf", publicKey.string()});
    std::istringstream fields(listed.output);
    std::string bits;
    std::string fingerprint;
    fields >> bits >> fingerprint;
    if (listed.exitCode != 0 || fingerprint.rfind("SHA256:", 0) != 0) {
        throw std::runtime_error("ssh-keygen cannot read the host key: " + listed.output);
    }
    return {line, fingerprint};
}

bool Greets(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    timeval wait{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    bool greets = false;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        char banner[64];
        const ssize_t n = ::recv(fd, banner, sizeof banner, 0);
        greets = n >= 7 && std::string_view(banner, 7) == "SSH-2.0";
    }
    ::close(fd);
    return greets;
}

}  // namespace

SshServer::SshServer(SshServerOptions options) : m_options(std::move(options)) {
    std::string why;
    if (!Available(&why)) {
        throw std::runtime_error("no SSH server for this test: " + why);
    }
    std::error_code ec;
    const fs::path root = fs::canonical(m_options.root, ec);
    if (ec || !fs::is_directory(root)) {
        throw std::runtime_error("SFTP root is not a folder: " + m_options.root.string());
    }
    // Everything below root changes hands: only ever a test's own temp folder.
    const fs::path temp = fs::canonical(fs::temp_directory_path());
    const auto [outside, inside] =
        std::mismatch(temp.begin(), temp.end(), root.begin(), root.end());
    if (outside != temp.end() || inside == root.end()) {
        throw std::runtime_error("SFTP root must be a folder below " + temp.string() + ": " +
                                 root.string());
    }
    m_options.root = PlainPath(root, "SFTP root");
    m_hostKey = PlainPath(m_options.hostKey.empty() ? m_dir / "host_ed25519" : m_options.hostKey,
                          "host key");
    PrepareAccount(m_options, m_uid, m_gid);
    std::tie(m_publicKey, m_fingerprint) = PrepareHostKey(m_hostKey);
    // A test's temp folder is root's alone: let the account pass through the
    // parents of root (not read them) and own root.
    for (fs::path parent = m_options.root.parent_path(); parent != temp;
         parent = parent.parent_path()) {
        fs::permissions(parent, fs::perms::others_exec, fs::perm_options::add, ec);
    }
    giveRootToUser();
    // sshd's privilege separation needs this empty folder.
    fs::create_directories("/run/sshd", ec);

    for (int attempt = 0; attempt < 3; ++attempt) {
        // A free port may be taken before sshd binds it; then try another.
        m_port = m_options.port > 0 ? m_options.port : ClosedPort();
        if (start() || m_options.port > 0) {
            break;
        }
    }
    if (m_pid <= 0) {
        throw std::runtime_error("sshd did not start:\n" + log());
    }
}

SshServer::~SshServer() {
    StopProcessTree(m_pid, std::chrono::seconds(3));
}

bool SshServer::Available(std::string* why) {
    std::string reason;
    if (::geteuid() != 0) {
        reason = "the SFTP server needs root (sshd and a system account)";
    }
    for (const char* tool : {kSshd, kKeygen, kUseradd, kChpasswd}) {
        if (reason.empty() && ::access(tool, X_OK) != 0) {
            reason = std::string(tool) + " is missing (packages openssh-server, openssh-client)";
        }
    }
    if (why != nullptr) {
        *why = reason;
    }
    return reason.empty();
}

std::string SshServer::log() const {
    return ReadBytes(m_dir / "sshd.log");
}

void SshServer::giveRootToUser() const {
    std::error_code ec;
    ::lchown(m_options.root.c_str(), m_uid, m_gid);
    for (auto it = fs::recursive_directory_iterator(m_options.root, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        ::lchown(it->path().c_str(), m_uid, m_gid);
    }
}

bool SshServer::start() {
    const fs::path config = m_dir / "sshd_config";
    {
        std::ofstream out(config);
        out << "ListenAddress 127.0.0.1\n"
            << "Port " << m_port << "\n"
            << "HostKey " << m_hostKey.native() << "\n"
            << "PidFile none\n"
               "UsePAM no\n"
               "PasswordAuthentication yes\n"
               "PermitEmptyPasswords no\n"
               "KbdInteractiveAuthentication no\n"
               "PubkeyAuthentication no\n"
               "AuthorizedKeysFile none\n"
               "PermitRootLogin no\n"
            << "AllowUsers " << m_options.user << "\n"
            << "StrictModes no\n"
               "AllowTcpForwarding no\n"
               "X11Forwarding no\n"
               "PermitTTY no\n"
               "PrintMotd no\n"
               "Subsystem sftp internal-sftp\n"
            << "ForceCommand internal-sftp -d " << m_options.root.native() << "\n"
            << "LogLevel INFO\n";
        if (!out) {
            throw std::runtime_error("cannot write " + config.string());
        }
    }
    const fs::path logFile = m_dir / "sshd.log";
    const int logFd = ::open(logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (logFd < 0) {
        throw std::runtime_error("cannot write " + logFile.string());
    }
    try {
        m_pid = StartProcess({kSshd, "-D", "-e", "-f", config.string()}, logFd, logFd);
    } catch (...) {
        ::close(logFd);
        throw;
    }
    ::close(logFd);
    const std::string listening =
        "Server listening on 127.0.0.1 port " + std::to_string(m_port) + ".";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        if (::waitpid(m_pid, nullptr, WNOHANG) == m_pid) {
            m_pid = -1;  // ended: a bad config, or the port is taken
            return false;
        }
        // Another server on the port would greet too; sshd says when it has the port.
        if (log().find(listening) != std::string::npos && Greets(m_port)) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    StopProcess(m_pid, std::chrono::milliseconds(0));
    m_pid = -1;
    return false;
}

}  // namespace quill::test
