#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace quill {

// Far above any real result or question page; a gzip bomb or an endless
// body stops here instead of filling the disk.
inline constexpr std::int64_t kMaxPageBytes = std::int64_t{32} << 20;

struct DownloadResult {
    bool ok = false;
    long httpStatus = 0;
    std::string error;  // empty on success; a short reason for a message
    explicit operator bool() const { return ok; }
};

struct DownloadOptions {
    long connectTimeoutSeconds = 15;
    // A transfer slower than 1 byte/s for this long is abandoned.
    long lowSpeedTimeSeconds = 20;
    long maxRedirects = 10;
    // A server trickling bytes never trips the low-speed limit; this caps the
    // whole transfer.
    long totalTimeoutSeconds = 180;
    // Send '#' as %23 instead of starting a fragment, for addresses whose
    // query holds text typed by the user.
    bool hashIsData = false;
    // Decoded bytes written to the file at most; more fails the download
    // with "page too large".
    std::int64_t maxBytes = kMaxPageBytes;
    // Set from another thread to end the transfer within a fraction of a
    // second; it then fails with kStoppedText. May be null.
    const std::atomic<bool>* stop = nullptr;
};

// The error text of a transfer ended by DownloadOptions::stop.
inline constexpr std::string_view kStoppedText = "stopped";

// The address as it goes on the wire before blanks and bytes >= 0x80 are
// encoded: characters that are never valid in an address are percent-encoded.
std::string EncodeUnsafeCharacters(const std::string& address, bool hashIsData);

// Fetches address into target through a ReplacingFile, which replaces target
// only when the whole transfer succeeded, so a failed download leaves an
// earlier file exactly as it was. Blanks and bytes >= 0x80 are
// percent-encoded on the wire only, as are
// characters never valid in an address (quotes, angle brackets, braces...); "http://" is assumed
// when no scheme is given.
DownloadResult DownloadPage(const std::string& address, const std::filesystem::path& target,
                            const DownloadOptions& options = {});

struct DownloadedText {
    DownloadResult result;
    std::string body;
};

// Fetches address into memory under the same limits, encoding and time-outs as
// DownloadPage. An HTTP status >= 400 fails the result but keeps the body, for
// services that explain their refusals in it; a body cut short by the size
// limit or an error is dropped.
DownloadedText DownloadText(const std::string& address, const DownloadOptions& options = {});

}  // namespace quill
