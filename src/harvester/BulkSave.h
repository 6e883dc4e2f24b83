#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace quill {

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

// Saves question n of a bulk save: downloads address into "folders/<n>",
// cuts the article, writes "articles/<n>.html" (article + CR LF) and appends
// article + CR LF + CR LF to "articles/<term>.html" unless the term is unsafe
// (then combinedWritten stays false and the error says so). A failed download
// writes nothing: the earlier page file stays as it was and is not used.
SavedQuestion SaveQuestion(const std::filesystem::path& programFolder, int n,
                           const std::string& address, std::string_view term);

// "articles/<term>.html" below the program folder.
std::filesystem::path CombinedArticleFile(const std::filesystem::path& programFolder,
                                          std::string_view term);

}  // namespace quill
