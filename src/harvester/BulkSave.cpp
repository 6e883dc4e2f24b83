#include "BulkSave.h"

#include "QaSource.h"
#include "common/FileWrite.h"
#include "common/PageFile.h"
#include "common/ProgramFolder.h"
#include "common/QaArticle.h"
#include "common/TextOps.h"

namespace quill {

bool IsSafeArticleName(std::string_view term) {
    // The term names a file only with ".html" after it: ".." is fine.
    return IsPlainName(std::string(term) + ".html");
}

std::filesystem::path CombinedArticleFile(const std::filesystem::path& programFolder,
                                          std::string_view term) {
    std::string name = "/articles/";
    name.append(term).append(".html");
    return ProgramFile(programFolder, name);
}

SavedQuestion SaveQuestion(const std::filesystem::path& programFolder, int n,
                           const std::string& address, std::string_view term) {
    ClassicSource pages(programFolder, {}, {});
    return SaveQuestion(pages, programFolder, n, address, term);
}

SavedQuestion SaveQuestion(QaSource& source, const std::filesystem::path& programFolder, int n,
                           const std::string& address, std::string_view term) {
    SavedQuestion saved;
    const auto number = std::to_string(n);
    const auto pageFile = ProgramFile(programFolder, "/folders/" + number);
    const auto fetched = source.fetch(address, pageFile);
    if (!fetched) {
        saved.downloadError = fetched.error;
        return saved;
    }
    saved.downloaded = true;
    saved.article = CutQaArticle(ReadPageFile(pageFile, 0));

    std::string numbered = saved.article;
    numbered.append(kCrLf);
    const auto written =
        WriteFileReplacing(ProgramFile(programFolder, "/articles/" + number + ".html"), numbered);
    saved.numberedWritten = written.has_value();
    if (!written) {
        saved.error = written.error();
    }

    if (!IsSafeArticleName(term)) {
        saved.error = "The search term cannot name a file in the articles folder.";
        return saved;
    }
    std::string combined = saved.article;
    combined.append(kCrLf).append(kCrLf);
    const auto appended = AppendToFile(CombinedArticleFile(programFolder, term), combined);
    saved.combinedWritten = appended.has_value();
    if (!appended && saved.error.empty()) {
        saved.error = appended.error();
    }
    return saved;
}

}  // namespace quill
