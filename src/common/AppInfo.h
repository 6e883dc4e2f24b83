#pragma once

#include <string_view>

// Fixed names and addresses of the program.
namespace quill::app {

inline constexpr std::string_view kTitle = "Quillmint 2012";
inline constexpr std::string_view kSearchHost = "www.google.com";
inline constexpr std::string_view kAnswersHost = "answers.yahoo.com";
// Scheme and host of the Stack Exchange API (questions from its sites).
inline constexpr std::string_view kStackExchangeApi = "https://api.stackexchange.com";
inline constexpr std::string_view kAdScriptHost = "pagead2.googlesyndication.com";
inline constexpr std::string_view kProductPage = "http://www.quillmint.example/";
inline constexpr std::string_view kMakerSite = "http://www.brindlecast.example/";
inline constexpr std::string_view kMakerSitemap = "http://sitemap.brindlecast.example/";
inline constexpr std::string_view kSupportEmail = "support@quillmint.example";
inline constexpr std::string_view kAuthorCredit = "The Brindlecast team";
// The service the desktop keyring files site passwords under.
inline constexpr std::string_view kKeyringService = "Quillmint";

}  // namespace quill::app
