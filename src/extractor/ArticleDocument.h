#pragma once

#include <expected>
#include <filesystem>
#include <string>
#include <string_view>

namespace quill {

// What the extractor window holds: the raw page text, the article HTML cut
// from it and the style block written in front of a saved article.
class ArticleDocument {
public:
    static constexpr std::string_view kInitialStyle =
        "<style>\r\nh1{\r\ncolor:red;\r\n}\r\nbody{\r\ncolor:navy;\r\n}\r\n"
        "a{\r\ncolor:blue;\r\n}\r\n</style>\r\n";

    // Appends the page file's text to the raw page text and extracts the article.
    void LoadPageFile(const std::filesystem::path& pageFile);

    const std::string& rawPage() const { return m_rawPage; }
    const std::string& article() const { return m_article; }
    const std::string& style() const { return m_style; }
    void setArticle(std::string article) { m_article = std::move(article); }
    void setStyle(std::string style) { m_style = std::move(style); }

    // Style block, article HTML and CR LF; the old file is replaced only once
    // the new one is fully written.
    std::expected<void, std::string> SaveTo(const std::filesystem::path& file) const;

private:
    std::string m_rawPage;
    std::string m_article;
    std::string m_style{kInitialStyle};
};

}  // namespace quill
