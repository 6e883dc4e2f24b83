#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace quill {

class QaSource;

// Whether a search term can name the combined article file without it
// leaving the "articles" folder: no '/' and no NUL.
bool IsSafeArticleName(std::string_view term);

struct SavedQuestion {
    bool downloaded = false;
    std::string downloadError;  // why the page could not be downloaded
    std::string article;
    bool numberedWritten = false;
    bool combinedWritten = false;
    std::string error;  // why a write failed, empty when both went well
};

// Saves question n of a bulk save: the source fetches address into
// "folders/<n>", the article is cut from it, "articles/<n>.html" gets
// article + CR LF and "articles/<term>.html" article + CR LF + CR LF appended
// unless the term is unsafe (then combinedWritten stays false and the error
// says so). A failed fetch writes nothing: the earlier page file stays as it
// was and is not used.
SavedQuestion SaveQuestion(QaSource& source, const std::filesystem::path& programFolder, int n,
                           const std::string& address, std::string_view term);
// The same with the page downloaded from address as it is.
SavedQuestion SaveQuestion(const std::filesystem::path& programFolder, int n,
                           const std::string& address, std::string_view term);

// "articles/<term>.html" below the program folder.
std::filesystem::path CombinedArticleFile(const std::filesystem::path& programFolder,
                                          std::string_view term);

}  // namespace quill
