#pragma once

#include <string>
#include <string_view>

namespace quill {

inline constexpr std::string_view kSubjectMarker = "<h1 class=\"subject\">";
inline constexpr std::string_view kMetaMarker = "<ul class=\"meta\">";
inline constexpr std::string_view kContentMarker = "<div class=\"content\">";
inline constexpr std::string_view kAnswerHeading = "<h1>Answer</h1>";

// The article of a question page: the subject block (subject marker up to the
// first meta marker), then CR LF, the answer heading, CR LF and the first
// content block after that meta marker (up to the next meta marker). A missing
// question part leaves the whole page text in its place; a missing answer part
// leaves out the heading as well. Used by the bulk save and the extractor alike.
std::string CutQaArticle(std::string_view page);

}  // namespace quill
