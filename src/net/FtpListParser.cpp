#include "FtpListParser.h"

#include "common/TextOps.h"

#include <algorithm>
#include <array>
#include <ctime>

namespace quill {
namespace {

int monthFromName(std::string_view name) {
    static constexpr std::array<std::string_view, 12> kMonths{
        "jan", "feb", "mar", "apr", "may", "jun", "jul", "aug", "sep", "oct", "nov", "dec"};
    if (name.size() != 3) {
        return 0;
    }
    const std::array<char, 3> lower{AsciiLower(name[0]), AsciiLower(name[1]), AsciiLower(name[2])};
    for (std::size_t i = 0; i < kMonths.size(); ++i) {
        if (std::string_view(lower.data(), 3) == kMonths[i]) {
            return static_cast<int>(i) + 1;
        }
    }
    return 0;
}

// Whole non-negative number of 1..maxDigits digits, or -1.
std::int64_t number(std::string_view text, std::size_t maxDigits = 4) {
    if (text.empty() || text.size() > maxDigits) {
        return -1;
    }
    std::int64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return -1;
        }
        value = value * 10 + (c - '0');
    }
    return value;
}

int smallNumber(std::string_view text, std::size_t maxDigits) {
    return static_cast<int>(number(text, maxDigits));
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

// Splits off the first blank-separated word; rest starts at the next word.
std::string_view nextWord(std::string_view& rest) {
    std::size_t i = 0;
    while (i < rest.size() && isBlank(rest[i])) {
        ++i;
    }
    const std::size_t start = i;
    while (i < rest.size() && !isBlank(rest[i])) {
        ++i;
    }
    const std::string_view word = rest.substr(start, i - start);
    rest.remove_prefix(i);
    return word;
}

std::vector<std::string_view> splitBlanks(std::string_view text) {
    std::vector<std::string_view> parts;
    for (std::string_view word = nextWord(text); !word.empty(); word = nextWord(text)) {
        parts.push_back(word);
    }
    return parts;
}

bool parseClock(std::string_view text, int& hour, int& minute) {
    const auto colon = text.find(':');
    if (colon == std::string_view::npos) {
        return false;
    }
    hour = smallNumber(text.substr(0, colon), 2);
    minute = smallNumber(text.substr(colon + 1), 2);
    return hour >= 0 && hour < 24 && minute >= 0 && minute < 60;
}

bool validDate(const FtpFileTime& t) {
    return t.month >= 1 && t.month <= 12 && t.day >= 1 && t.day <= 31 && t.year > 0;
}

constexpr std::int64_t kMaxSizeDigits = 18;  // fits in 63 bits

ParsedListLine entryLine(FtpFindData entry) {
    return {ListLineKind::Entry, std::move(entry)};
}

// "-rw-r--r-- 1 owner group 12 Dec 08 01:20 name": the size, month, day
// and time (or year) words fix where the name starts, one blank after the
// time; the name runs to the end of the line, blanks kept.
ParsedListLine unixLine(std::string_view line, const FtpToday& today) {
    std::string_view rest = line;
    const std::string_view mode = nextWord(rest);
    if (mode.size() < 10) {
        return {};
    }
    // Links, owner, [group], size, month, day, time or year.
    std::array<std::string_view, 8> words{};
    std::array<std::string_view, 8> after{};
    std::size_t count = 0;
    while (count < words.size()) {
        words[count] = nextWord(rest);
        if (words[count].empty()) {
            break;
        }
        after[count] = rest;
        ++count;
    }
    for (std::size_t m = 2; m + 2 < count; ++m) {
        if (monthFromName(words[m]) == 0 || number(words[m - 1], kMaxSizeDigits) < 0) {
            continue;
        }
        const std::string timeText = std::string(words[m]) + " " + std::string(words[m + 1]) + " " +
                                     std::string(words[m + 2]);
        const auto lastWrite = ParseListingTime(timeText, today.year, today.month, today.day);
        std::string_view name = after[m + 2];
        if (!lastWrite || name.size() < 2 || !isBlank(name.front())) {
            continue;
        }
        name.remove_prefix(1);
        const char type = mode.front();
        if (type == 'l') {
            if (const auto arrow = name.find(" -> "); arrow != std::string_view::npos) {
                name = name.substr(0, arrow);
            }
        }
        if (name.empty()) {
            return {};
        }
        FtpFindData entry;
        entry.name = std::string(name);
        entry.folder = type == 'd' || type == 'l';
        entry.size = number(words[m - 1], kMaxSizeDigits);
        entry.lastWrite = lastWrite;
        return entryLine(std::move(entry));
    }
    return {};
}

// "12-08-26  01:28AM       <DIR>          folder"
ParsedListLine dosLine(std::string_view line, const FtpToday& today) {
    std::string_view rest = line;
    const std::string_view date = nextWord(rest);
    const std::string_view clock = nextWord(rest);
    const std::string_view sizeOrDir = nextWord(rest);
    if (rest.empty() || !isBlank(rest.front())) {
        return {};
    }
    std::size_t i = 0;
    while (i < rest.size() && isBlank(rest[i])) {
        ++i;
    }
    const std::string_view name = rest.substr(i);
    const auto lastWrite = ParseListingTime(std::string(date) + " " + std::string(clock),
                                            today.year, today.month, today.day);
    if (!lastWrite || name.empty()) {
        return {};
    }
    FtpFindData entry;
    entry.name = std::string(name);
    entry.lastWrite = lastWrite;
    if (sizeOrDir == "<DIR>") {
        entry.folder = true;
    } else {
        const std::int64_t size = number(sizeOrDir, kMaxSizeDigits);
        if (size < 0) {
            return {};
        }
        entry.size = size;
    }
    return entryLine(std::move(entry));
}

}  // namespace

FtpToday FtpToday::Now() {
    const std::time_t now = std::time(nullptr);
    std::tm today{};
    gmtime_r(&now, &today);
    return {today.tm_year + 1900, today.tm_mon + 1, today.tm_mday};
}

std::optional<FtpFileTime> ParseListingTime(std::string_view text, int todayYear, int todayMonth,
                                            int todayDay) {
    const auto parts = splitBlanks(text);
    if (parts.size() < 2) {
        return std::nullopt;
    }
    FtpFileTime t;
    if (const int month = monthFromName(parts[0]); month > 0 && parts.size() >= 3) {
        // Unix: "Dec 08 01:20" (this year or last) or "Jan 02  2020".
        t.month = month;
        t.day = smallNumber(parts[1], 2);
        if (parts[2].find(':') != std::string_view::npos) {
            if (!parseClock(parts[2], t.hour, t.minute)) {
                return std::nullopt;
            }
            t.year = todayYear;
            if (t.month > todayMonth || (t.month == todayMonth && t.day > todayDay + 1)) {
                --t.year;
            }
        } else {
            t.year = smallNumber(parts[2], 4);
        }
        return validDate(t) ? std::optional(t) : std::nullopt;
    }
    // DOS/IIS: "12-08-26  01:28AM", also with a four-digit year.
    const std::string_view date = parts[0];
    const auto d1 = date.find('-');
    const auto d2 = d1 == std::string_view::npos ? d1 : date.find('-', d1 + 1);
    if (d2 == std::string_view::npos) {
        return std::nullopt;
    }
    t.month = smallNumber(date.substr(0, d1), 2);
    t.day = smallNumber(date.substr(d1 + 1, d2 - d1 - 1), 2);
    const std::string_view yearText = date.substr(d2 + 1);
    t.year = smallNumber(yearText, 4);
    if (yearText.size() == 2 && t.year >= 0) {
        t.year += t.year < 70 ? 2000 : 1900;
    }
    std::string_view clock = parts[1];
    bool pm = false;
    bool am = false;
    if (clock.size() > 2) {
        const char a = AsciiLower(clock[clock.size() - 2]);
        if (AsciiLower(clock.back()) == 'm' && (a == 'a' || a == 'p')) {
            pm = a == 'p';
            am = a == 'a';
            clock.remove_suffix(2);
        }
    }
    if (!parseClock(clock, t.hour, t.minute)) {
        return std::nullopt;
    }
    if ((am || pm) && (t.hour < 1 || t.hour > 12)) {
        return std::nullopt;
    }
    if (am && t.hour == 12) {
        t.hour = 0;
    } else if (pm && t.hour != 12) {
        t.hour += 12;
    }
    return validDate(t) ? std::optional(t) : std::nullopt;
}

ParsedListLine ParseMlsdLine(std::string_view line) {
    const auto blank = line.find(' ');
    if (blank == std::string_view::npos || blank + 1 >= line.size()) {
        return {};
    }
    std::string_view facts = line.substr(0, blank);
    FtpFindData entry;
    entry.name = std::string(line.substr(blank + 1));
    bool typed = false;
    while (!facts.empty()) {
        const auto semicolon = facts.find(';');
        const std::string_view fact = facts.substr(0, semicolon);
        facts =
            semicolon == std::string_view::npos ? std::string_view{} : facts.substr(semicolon + 1);
        const auto equals = fact.find('=');
        if (equals == std::string_view::npos) {
            continue;
        }
        const std::string key = AsciiLower(fact.substr(0, equals));
        const std::string_view value = fact.substr(equals + 1);
        if (key == "type") {
            const std::string type = AsciiLower(value);
            if (type == "cdir" || type == "pdir") {
                return {ListLineKind::Ignored, {}};
            }
            typed = true;
            // Links count as folders, as in LIST.
            entry.folder = type == "dir" || type.starts_with("os.unix=slink") ||
                           type.starts_with("os.unix=symlink");
        } else if (key == "size" || key == "sizd") {
            const std::int64_t size = number(value, kMaxSizeDigits);
            entry.size = size < 0 ? 0 : size;
        } else if (key == "modify" && value.size() >= 14) {
            FtpFileTime t;
            t.year = smallNumber(value.substr(0, 4), 4);
            t.month = smallNumber(value.substr(4, 2), 2);
            t.day = smallNumber(value.substr(6, 2), 2);
            t.hour = smallNumber(value.substr(8, 2), 2);
            t.minute = smallNumber(value.substr(10, 2), 2);
            const int second = smallNumber(value.substr(12, 2), 2);
            if (validDate(t) && t.hour >= 0 && t.hour < 24 && t.minute >= 0 && t.minute < 60 &&
                second >= 0 && second < 61) {
                entry.lastWrite = t;
            }
        }
    }
    if (!typed) {
        return {};
    }
    return entryLine(std::move(entry));
}

ParsedListLine ParseListLine(std::string_view line, const FtpToday& today) {
    if (line.empty()) {
        return {ListLineKind::Ignored, {}};
    }
    if (line.starts_with("total ") && number(line.substr(6), 20) >= 0) {
        return {ListLineKind::Ignored, {}};
    }
    if (line.front() >= '0' && line.front() <= '9') {
        return dosLine(line, today);
    }
    return unixLine(line, today);
}

void FtpListReader::decide() {
    // Decided by the first CR LF; two lone LFs without one mean a listing in
    // lone LFs. Only bytes not yet seen are looked at.
    for (; m_scanned < m_pending.size(); ++m_scanned) {
        if (m_pending[m_scanned] == '\n') {
            if (m_scanned > 0 && m_pending[m_scanned - 1] == '\r') {
                m_sawCrLf = true;
            } else {
                ++m_loneLfs;
            }
        }
    }
    if (m_sawCrLf) {
        m_crlf = 1;
    } else if (m_loneLfs >= 2) {
        m_crlf = 0;
    }
    if (m_crlf >= 0) {
        m_scanned = 0;  // lines are cut from the start once
    }
}

void FtpListReader::feed(std::string_view bytes) {
    m_pending.append(bytes);
    if (m_crlf < 0) {
        decide();
        if (m_crlf < 0) {
            return;
        }
    }
    std::size_t start = 0;
    for (;;) {
        const auto lf = m_pending.find('\n', std::max(m_scanned, start));
        if (lf == std::string::npos) {
            m_scanned = m_pending.size();
            break;
        }
        m_scanned = lf + 1;
        const bool crBefore = lf > start && m_pending[lf - 1] == '\r';
        if (m_crlf == 1 && !crBefore) {
            continue;  // a lone LF inside a CR LF listing: part of a name
        }
        line(std::string_view(m_pending).substr(start, lf - start - (crBefore ? 1 : 0)));
        start = lf + 1;
    }
    m_pending.erase(0, start);
    m_scanned -= start;
}

void FtpListReader::finish() {
    if (m_crlf < 0) {
        m_crlf = 0;
        m_scanned = 0;
        feed({});
    }
    if (!m_pending.empty()) {
        std::string rest;
        rest.swap(m_pending);
        if (!rest.empty() && rest.back() == '\r') {
            rest.pop_back();
        }
        line(rest);
    }
}

void FtpListReader::skip(std::string text, std::string reason) {
    ++skippedCount;
    if (skipped.size() < kKeptSkipped) {
        skipped.push_back({std::move(text), std::move(reason)});
    }
}

void FtpListReader::line(std::string_view text) {
    if (text.empty()) {
        return;
    }
    ParsedListLine parsed = m_mlsd ? ParseMlsdLine(text) : ParseListLine(text, m_today);
    const bool lastWasEntry = m_lastWasEntry;
    m_lastWasEntry = false;
    switch (parsed.kind) {
        case ListLineKind::Ignored:
            return;
        case ListLineKind::Unreadable:
            // libcurl turns the listing's CR LF into LF, so a name with a line
            // break arrives as an entry followed by a line that is no entry:
            // that entry's name was cut short and is left out with it.
            if (lastWasEntry && !entries.empty()) {
                skip(entries.back().name + "\n" + std::string(text), "the name holds a line break");
                entries.pop_back();
                --m_entryCount;
                return;
            }
            skip(std::string(text), "the line could not be read");
            return;
        case ListLineKind::Entry:
            break;
    }
    const std::string& name = parsed.entry.name;
    // The folder itself and its parent, as SFTP and some LIST replies show
    // them: the tree already has its own ways there.
    if (name == "." || name == "..") {
        return;
    }
    if (HoldsSeparatorOrNul(name) || HoldsLineBreak(name)) {
        skip(name, "the name holds a \"/\", a NUL or a line break");
        return;
    }
    if (m_entryCount >= m_maxEntries) {
        cut = true;
        return;
    }
    ++m_entryCount;
    m_lastWasEntry = true;
    entries.push_back(std::move(parsed.entry));
}

}  // namespace quill
