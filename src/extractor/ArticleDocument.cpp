#include "ArticleDocument.h"

#include "common/FileWrite.h"
#include "common/PageFile.h"
#include "common/QaArticle.h"
#include "common/TextOps.h"

namespace quill {

void ArticleDocument::LoadPageFile(const std::filesystem::path& pageFile) {
    m_rawPage += ReadPageFile(pageFile, 0);
    m_article = CutQaArticle(m_rawPage);
}

std::expected<void, std::string> ArticleDocument::SaveTo(const std::filesystem::path& file) const {
    std::string bytes;
    bytes.reserve(m_style.size() + m_article.size() + 2);
    bytes.append(m_style).append(m_article).append(kCrLf);
    return WriteFileReplacing(file, bytes);
}

}  // namespace quill
