#include "processing/sessions/SessionMediaCleanup.h"

#include "platform/fs/Files.h"
#include "platform/fs/OpenFolder.h"
#include "platform/text/Regex.h"
#include "session/VelnoteLogger.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <system_error>

namespace velnote {
namespace {

namespace fs = std::filesystem;

constexpr const char* kImageLinkPattern = R"(!\[[^\]]*\]\(([^)]+)\))";

std::string lowercased(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

std::string percentDecoded(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            out.push_back(static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16)));
            i += 2;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

// The path a link target points at, whatever way the Markdown spells it: surrounding blanks,
// <angle brackets>, a "title" after the path, "./" prefixes and percent escapes removed.
std::string normalTarget(std::string target) {
    const auto isBlank = [](unsigned char c) { return std::isspace(c) != 0; };
    while (!target.empty() && isBlank(target.front()))
        target.erase(target.begin());
    while (!target.empty() && isBlank(target.back()))
        target.pop_back();
    if (target.size() >= 2 && target.front() == '<') {
        if (const auto close = target.find('>'); close != std::string::npos)
            target = target.substr(1, close - 1);
    } else if (const auto blank = std::find_if(target.begin(), target.end(), isBlank);
               blank != target.end()) {
        target.erase(blank, target.end());
    }
    while (target.rfind("./", 0) == 0)
        target.erase(0, 2);
    return percentDecoded(target);
}

std::string missingOr(const std::error_code& error, const char* missing) {
    return error == std::errc::no_such_file_or_directory ? std::string(missing) : error.message();
}

// Everything through descriptors: the session folder opened once, the media folder opened inside
// it without following a link, so a folder swapped for a link midway cannot lead the deletion out.
void cleanupSubdirectory(const platform::OpenFolder& session, const std::string& subdirName,
                         const fs::path& sessionDir, const std::set<std::string>& referencedPaths) {
    const auto& log = VelnoteLogger::processing();
    std::error_code error;
    const auto subdir = session.openFolder(subdirName, error);
    if (error == std::errc::no_such_file_or_directory)
        return;
    if (error == std::errc::too_many_symbolic_link_levels || error == std::errc::not_a_directory) {
        log.error("media folder is a symbolic link or not a folder, left alone: {}",
                  (sessionDir / subdirName).string());
        return;
    }
    if (!subdir) {
        log.error("failed to list {}: {}", subdirName, error.message());
        return;
    }

    const auto names = subdir->entryNames(platform::HiddenEntries::skip, error);
    if (error) {
        log.error("failed to list {}: {}", subdirName, error.message());
        return;
    }
    for (const auto& fileName : names) {
        if (referencedPaths.count(subdirName + "/" + fileName))
            continue;
        if (subdir->removeAll(fileName, error); error) {
            log.error("failed to remove media file: {}: {}", fileName, error.message());
        }
    }

    const bool empty = subdir->entryNames(platform::HiddenEntries::include, error).empty();
    if (error) {
        log.error("failed to check if {} is empty: {}", subdirName, error.message());
    } else if (empty && (session.removeEmptyFolder(subdirName, error), error)) {
        log.error("failed to remove empty {}: {}", subdirName, error.message());
    }
}

} // namespace

void SessionMediaCleanup::deleteSessionMediaFiles(const fs::path& sessionDir) {
    const auto& log = VelnoteLogger::processing();
    const auto name = sessionDir.filename().string();
    std::error_code error;
    const auto session = platform::OpenFolder::open(sessionDir, error);
    if (!session) {
        log.error("failed to open session directory: {}: {}", name, error.message());
        return;
    }
    if (session->removeAll("audio", error); error) {
        log.error("failed to remove audio directory: {}: {}", name, missingOr(error, "no such directory"));
    }

    const auto referenced = collectMarkdownReferencedImagePaths(sessionDir);
    cleanupSubdirectory(*session, "screencaptures", sessionDir, referenced);
    cleanupSubdirectory(*session, "manualcaptures", sessionDir, referenced);

    if (session->removeFile("ocr_context.txt", error); error) {
        log.error("failed to remove ocr_context.txt: {}: {}", name, missingOr(error, "no such file"));
    }
}

std::set<std::string> SessionMediaCleanup::collectMarkdownReferencedImagePaths(const fs::path& sessionDir) {
    const auto& log = VelnoteLogger::processing();
    std::set<std::string> referenced;
    std::error_code error;
    const auto entries = platform::listDirectory(sessionDir, platform::HiddenEntries::skip, error);
    if (error) {
        log.error("failed to list session directory for markdown scan: {}: {}",
                  sessionDir.filename().string(), error.message());
        return referenced;
    }
    std::optional<platform::Regex> imageLink;
    try {
        imageLink.emplace(kImageLinkPattern);
    } catch (const platform::RegexError& e) {
        log.error("invalid image reference regex: {}", e.what());
    }
    for (const auto& entry : entries) {
        if (lowercased(entry.extension().string()) != ".md")
            continue;
        std::string text;
        try {
            // Uncapped: a cut would miss links and delete images a note still shows. A FIFO or a
            // folder named like a note shows none and must not hold the scan.
            text = platform::readRegularFile(entry, std::string::npos);
        } catch (const std::system_error& e) {
            log.error("failed to read markdown file: {}: {}", entry.filename().string(), e.code().message());
            continue;
        }
        if (!imageLink)
            continue;
        for (const auto& match : imageLink->findAll(text)) {
            const auto& target = match.groups.at(1)->text;
            if (target.rfind("data:", 0) == 0)
                continue;
            referenced.insert(target);
            referenced.insert(normalTarget(target));
        }
    }
    return referenced;
}

void SessionMediaCleanup::cleanupSessionMediaSubdirectory(const std::string& subdirName,
                                                          const fs::path& sessionDir,
                                                          const std::set<std::string>& referencedPaths) {
    std::error_code error;
    if (const auto session = platform::OpenFolder::open(sessionDir, error)) {
        cleanupSubdirectory(*session, subdirName, sessionDir, referencedPaths);
    } else {
        VelnoteLogger::processing().error("failed to open session directory: {}: {}",
                                          sessionDir.filename().string(), error.message());
    }
}

} // namespace velnote
