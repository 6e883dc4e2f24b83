#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quill {

// Reading folder listings line by line: MLSD lines (exact types, UTC times,
// any name) and LIST lines in the Unix and DOS formats. A line that cannot be
// read costs only that line.

// Calendar fields of a listed time, as the server wrote them (no time zone
// conversion).
struct FtpFileTime {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
};

// One entry of a folder listing: name (bytes, as the server sent it), folder
// flag, size in bytes and, when the listing line carried one, the time.
struct FtpFindData {
    std::string name;
    bool folder = false;
    std::int64_t size = 0;
    std::optional<FtpFileTime> lastWrite;
};

// Today's date, for Unix listing times that carry no year.
struct FtpToday {
    int year = 1970;
    int month = 1;
    int day = 1;
    static FtpToday Now();  // in UTC
};

enum class ListLineKind {
    Entry,       // an entry of the folder
    Ignored,     // part of the format, not an entry ("total 12", MLSD "cdir")
    Unreadable,  // neither
};

struct ParsedListLine {
    ListLineKind kind = ListLineKind::Unreadable;
    FtpFindData entry;
};

// "type=file;size=12;modify=20261208102030; name"
ParsedListLine ParseMlsdLine(std::string_view line);

// "-rw-r--r-- 1 owner group 12 Dec 08 01:20 name" (group optional, a link's
// " -> target" dropped) or "12-08-26  01:28AM  <DIR>  name". Links count as
// folders.
ParsedListLine ParseListLine(std::string_view line, const FtpToday& today);

// Parses the time text of a Unix ("Dec 08 01:20", "Jan 02  2020") or DOS
// ("12-08-26  01:28AM") listing line. A Unix time without a year is in the
// year that puts it at most a day after today (todayYear/Month/Day).
std::optional<FtpFileTime> ParseListingTime(std::string_view text, int todayYear, int todayMonth,
                                            int todayDay);

// A line of a listing left out, and why, for the log.
struct SkippedListLine {
    std::string text;  // the line, or the entry's name
    std::string reason;
};

// Cuts a listing that arrives in pieces into lines and reads each. Lines end
// in CR LF; a lone LF inside such a line belongs to a name (and keeps the
// entry out). A listing without any CR LF uses lone LFs; there a line that is
// no entry right after an entry is taken for the rest of that entry's name.
// A hostile listing costs bounded memory: at most maxEntries entries, the
// first kKeptSkipped lines left out (the rest only counted), and each byte
// is scanned for line ends once.
class FtpListReader {
public:
    static constexpr std::size_t kMaxEntries = 1'000'000;
    static constexpr std::size_t kKeptSkipped = 20;

    FtpListReader(bool mlsd, FtpToday today, std::size_t maxEntries = kMaxEntries)
        : m_mlsd(mlsd), m_today(today), m_maxEntries(maxEntries) {}

    void feed(std::string_view bytes);
    // Reads what is left after the last line end.
    void finish();

    std::vector<FtpFindData> entries;
    std::vector<SkippedListLine> skipped;  // the first kKeptSkipped
    std::size_t skippedCount = 0;          // all lines left out
    bool cut = false;                      // entries beyond maxEntries were dropped

private:
    void line(std::string_view text);
    void skip(std::string text, std::string reason);
    void decide();

    bool m_mlsd;
    FtpToday m_today;
    std::size_t m_maxEntries;
    std::size_t m_entryCount = 0;  // entries taken, including those handed out
    std::string m_pending;
    std::size_t m_scanned = 0;  // bytes of m_pending already searched for a line end
    bool m_sawCrLf = false;
    int m_loneLfs = 0;
    int m_crlf = -1;  // unknown until the first line end
    bool m_lastWasEntry = false;
};

}  // namespace quill
