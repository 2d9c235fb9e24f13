#include "ui/models/core/ModelFolderScan.h"

#include "engine/speech/Vocalith.h"
#include "platform/fs/Files.h"
#include "platform/text/CaseMapping.h"
#include "session/VelnoteLogger.h"

#include <algorithm>
#include <cerrno>
#include <sys/stat.h>
#include <system_error>

namespace velnote::ModelFolderScan {
namespace fs = std::filesystem;
namespace {

constexpr std::string_view kHubPrefix = "models--";

bool itemExists(const fs::path& path) {
    std::error_code ignored;
    return fs::symlink_status(path, ignored).type() != fs::file_type::not_found;
}

bool isHidden(const fs::path& path) {
    const std::string name = path.filename().string();
    return !name.empty() && name.front() == '.';
}

// The last component of the engine's own repository ("vocalith-coreml"): its name carries no
// "whisper", yet it holds the speech models this application downloads.
std::string engineRepositoryName() {
    const std::string repo = vocalith::Vocalith::kDefaultModelRepo;
    return platform::lowercased(repo.substr(repo.find('/') + 1));
}

std::string engineHubFolderName() {
    std::string name(kHubPrefix);
    for (const char c : std::string_view(vocalith::Vocalith::kDefaultModelRepo)) {
        name += c == '/' ? std::string("--") : std::string(1, c);
    }
    return platform::lowercased(name);
}

void replaceAll(std::string& text, std::string_view from, std::string_view to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
}

std::string describe(const std::exception& error) {
    return error.what();
}

// A speech model folder, or std::nullopt when its date or size cannot be read (logged).
std::optional<ModelInfo> speechModel(const fs::path& folder) {
    try {
        const WallTime modified = modificationDate(folder);
        return ModelInfo{.id = folder.string(),
                         .name = displayNameForWhisperModel(folder),
                         .type = ModelType::whisper,
                         .path = folder,
                         .size = totalAllocatedSize(folder),
                         .modifiedDate = modified};
    } catch (const std::exception& e) {
        VelnoteLogger::app().error("ModelManager: failed to read model info at {}: {}",
                                   folder.filename().string(), describe(e));
        return std::nullopt;
    }
}

// Whether `path` is a folder itself (a link to one is not). A failure is logged and answers false.
bool isDirectory(const fs::path& path) {
    std::error_code error;
    const fs::file_status status = fs::symlink_status(path, error);
    if (error) {
        VelnoteLogger::app().error("ModelManager: failed to query directory attribute for {}: {}",
                                   path.filename().string(), error.message());
        return false;
    }
    return status.type() == fs::file_type::directory;
}

std::vector<ModelInfo> enumerateHubModels(const fs::path& folder, const std::string& name) {
    if (!name.starts_with(kHubPrefix) || !isSpeechRepositoryName(name, true))
        return {};
    if (auto model = speechModel(folder))
        return {std::move(*model)};
    return {};
}

std::vector<ModelInfo> enumerateOrgModels(const fs::path& folder, const std::string& name) {
    if (isSpeechRepositoryName(name, false)) {
        // The owner folder is a repository of its own; what it holds is its files.
        if (auto model = speechModel(folder))
            return {std::move(*model)};
        return {};
    }
    std::error_code error;
    const auto children = platform::listDirectory(folder, platform::HiddenEntries::skip, error);
    if (error) {
        VelnoteLogger::app().error("ModelManager: failed to list subdirectory {}: {}",
                                   folder.filename().string(), error.message());
        return {};
    }
    std::vector<ModelInfo> models;
    for (const fs::path& child : children) {
        if (!isDirectory(child) ||
            !isSpeechRepositoryName(platform::lowercased(child.filename().string()), false))
            continue;
        if (auto model = speechModel(child))
            models.push_back(std::move(*model));
    }
    return models;
}

void sortNewestFirst(std::vector<ModelInfo>& models) {
    std::stable_sort(models.begin(), models.end(),
                     [](const ModelInfo& a, const ModelInfo& b) { return a.modifiedDate > b.modifiedDate; });
}

} // namespace

bool isSpeechRepositoryName(const std::string& lowerCaseName, bool hubLayout) {
    if (lowerCaseName.find("whisper") != std::string::npos)
        return true;
    return lowerCaseName == (hubLayout ? engineHubFolderName() : engineRepositoryName());
}

std::vector<ModelInfo> enumerateModels(const fs::path& folder, ModelType type) {
    if (!itemExists(folder))
        return {};
    std::vector<ModelInfo> models;
    try {
        std::error_code error;
        const auto children = platform::listDirectory(folder, platform::HiddenEntries::skip, error);
        if (error)
            throw fs::filesystem_error("cannot list the folder", folder, error);
        for (const fs::path& child : children) {
            try {
                const WallTime modified = modificationDate(child);
                models.push_back(ModelInfo{.id = child.string(),
                                           .name = child.filename().string(),
                                           .type = type,
                                           .path = child,
                                           .size = totalAllocatedSize(child),
                                           .modifiedDate = modified});
            } catch (const std::system_error& e) {
                // Removed by another program after the folder was listed: no model to show.
                if (e.code() != std::errc::no_such_file_or_directory)
                    throw;
            }
        }
    } catch (const std::exception& e) {
        VelnoteLogger::app().error("ModelManager: failed to enumerate models in {}: {}", folder.string(),
                                   describe(e));
    }
    return models;
}

std::vector<ModelInfo> enumerateWhisperModels(const SpeechRoots& roots) {
    std::vector<ModelInfo> models;
    for (const auto& [root, hubLayout] : {std::pair{roots.hub, true}, std::pair{roots.repositories, false}}) {
        if (!root || !itemExists(*root))
            continue;
        std::error_code error;
        const auto children = platform::listDirectory(*root, platform::HiddenEntries::skip, error);
        if (error) {
            VelnoteLogger::app().error("ModelManager: failed to enumerate Whisper models in {}: {}",
                                       root->string(), error.message());
            continue;
        }
        for (const fs::path& child : children) {
            if (!isDirectory(child))
                continue; // plain files at this level are not models
            const std::string name = platform::lowercased(child.filename().string());
            auto found = hubLayout ? enumerateHubModels(child, name) : enumerateOrgModels(child, name);
            std::move(found.begin(), found.end(), std::back_inserter(models));
        }
    }
    sortNewestFirst(models);
    return models;
}

std::string displayNameForWhisperModel(const fs::path& folder) {
    std::string last = folder.filename().string();
    if (last.starts_with(kHubPrefix)) {
        replaceAll(last, kHubPrefix, "");
        replaceAll(last, "--", "/");
        return last;
    }
    const std::string parent = folder.parent_path().filename().string();
    const std::string lowerParent = platform::lowercased(parent);
    if (lowerParent == "models" || lowerParent == "hub")
        return last;
    return parent + "/" + last;
}

std::int64_t totalAllocatedSize(const fs::path& path) {
    const fs::file_status status = fs::symlink_status(path);
    if (status.type() == fs::file_type::not_found)
        throw fs::filesystem_error("no such item", path,
                                   std::make_error_code(std::errc::no_such_file_or_directory));
    if (status.type() == fs::file_type::regular)
        return static_cast<std::int64_t>(fs::file_size(path));
    if (status.type() != fs::file_type::directory)
        return 0; // a link or a special file holds no bytes of its own here
    std::int64_t total = 0;
    fs::recursive_directory_iterator walk(path, fs::directory_options::skip_permission_denied);
    for (auto it = fs::begin(walk); it != fs::end(walk); ++it) {
        const fs::directory_entry& entry = *it;
        if (isHidden(entry.path())) {
            it.disable_recursion_pending();
            continue;
        }
        // The entry's own type: a link to a file or a folder counts nothing and is not entered.
        if (entry.is_symlink())
            continue;
        if (entry.is_regular_file())
            total += static_cast<std::int64_t>(entry.file_size());
    }
    return total;
}

WallTime modificationDate(const fs::path& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        throw std::system_error(errno, std::generic_category(),
                                "cannot read the attributes of " + path.string());
    using namespace std::chrono;
    return WallTime(
        duration_cast<WallTime::duration>(seconds(st.st_mtim.tv_sec) + nanoseconds(st.st_mtim.tv_nsec)));
}

} // namespace velnote::ModelFolderScan
