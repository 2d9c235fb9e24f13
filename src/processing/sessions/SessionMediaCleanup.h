#pragma once

// Removing a session's bulky media when the user closes it and asks for that: the "audio"
// folder, "ocr_context.txt", and the screenshots in "screencaptures" and "manualcaptures" that no
// top-level Markdown file of the session shows. Transcripts, summaries, summary versions,
// "session.json" and everything else stay. Nothing here throws: each failure is logged in the
// "processing" category and the rest of the work goes on.

#include <filesystem>
#include <set>
#include <string>

namespace velnote {

class SessionMediaCleanup {
  public:
    SessionMediaCleanup() = delete;

    // The whole deletion: audio, then unreferenced screenshots, then the OCR text file.
    static void deleteSessionMediaFiles(const std::filesystem::path& sessionDir);

    // The targets of Markdown image links ("![alt](target)") in the session folder's own ".md"
    // files (any case of the extension; subfolders are not read), as relative paths such as
    // "screencaptures/a.jpg". Besides each target as written, the set holds its normal form: a
    // title after the path dropped, "./" prefixes dropped and percent escapes decoded, so that
    // every spelling of a link keeps its image. "data:" targets are left out.
    static std::set<std::string> collectMarkdownReferencedImagePaths(const std::filesystem::path& sessionDir);

    // Deletes the files of `sessionDir`/`subdirName` whose "<subdirName>/<file name>" is not in
    // `referencedPaths`, then the subfolder when nothing, hidden files included, is left.
    static void cleanupSessionMediaSubdirectory(const std::string& subdirName,
                                                const std::filesystem::path& sessionDir,
                                                const std::set<std::string>& referencedPaths);
};

} // namespace velnote
