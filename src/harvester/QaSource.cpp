#include "QaSource.h"

#include "common/PageFile.h"
#include "common/ProgramFolder.h"

namespace quill {

ClassicSource::ClassicSource(std::filesystem::path programFolder, std::string searchHost,
                             std::string answersHost)
    : m_programFolder(std::move(programFolder)),
      m_searchHost(std::move(searchHost)),
      m_answersHost(std::move(answersHost)) {
}

SearchOutcome ClassicSource::search(std::string_view term, const Depth& depth) {
    const std::string address = BuildQueryAddress(m_searchHost, m_answersHost, term, depth.asked);
    const auto resultFile = ProgramFile(m_programFolder, "/temp.htm");
    DownloadOptions options = downloadOptions();
    options.hashIsData = true;  // a '#' in the term is part of the query
    const auto download = DownloadPage(address, resultFile, options);
    if (!download) {
        // The previous search's page is still on disk; it must not be listed
        // as the results of this one.
        return {.entries = {}, .error = download.error};
    }
    return {.entries = ScanResultPage(ReadPageFile(resultFile, kResultPageSkip), depth.limit),
            .error = {}};
}

FetchOutcome ClassicSource::fetch(const std::string& address, const std::filesystem::path& target) {
    const auto download = DownloadPage(address, target, downloadOptions());
    return {.error = download ? std::string() : download.error};
}

}  // namespace quill
