#include "engine/foundation/ModelDownloader.h"

#include "engine/foundation/Logging.h"
#include "engine/foundation/ModelUtilities.h"

#include <algorithm>

namespace fs = std::filesystem;

namespace basalith {
namespace {

bool isIncomplete(const fs::path& path) {
    const std::string name = path.filename().string();
    const std::string_view suffix = HubClient::kIncompleteSuffix;
    return name.size() >= suffix.size() &&
           name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

void requireContainedNames(const ModelInfo& modelInfo) {
    requireContainedPath(modelInfo.name, "model name");
    if (modelInfo.version)
        requireContainedPath(*modelInfo.version, "model version");
    if (modelInfo.variant)
        requireContainedPath(*modelInfo.variant, "model variant");
}

// The pattern's fixed leading folders: every component before the first one with a "*".
std::optional<fs::path> fixedPrefix(const std::string& pattern) {
    fs::path prefix;
    std::size_t start = 0;
    while (start <= pattern.size()) {
        const auto slash = std::min(pattern.find('/', start), pattern.size());
        const std::string part = pattern.substr(start, slash - start);
        start = slash + 1;
        if (part.empty())
            continue;
        if (part.find('*') != std::string::npos)
            break;
        prefix /= part;
    }
    if (prefix.empty())
        return std::nullopt;
    return prefix;
}

// A pattern's fixed folders become a path, so they must stay in the repository folder.
void requireContainedPattern(const std::string& pattern) {
    if (auto prefix = fixedPrefix(pattern))
        requireContainedPath(prefix->generic_string(), "pattern folder");
}

// A model folder counts as present when it holds at least one complete entry (hidden ones too) and
// no ".incomplete" file anywhere below it: a download that stopped half-way is not present. The hub
// client's lock files are neither.
bool holdsCompleteModel(const fs::path& folder) {
    std::error_code ec;
    bool complete = false;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (isIncomplete(it->path()))
            return false;
        complete = complete || !isCacheBookkeeping(it->path().filename().string());
    }
    if (!complete)
        return false;
    for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (isIncomplete(it->path()))
            return false;
    }
    return !ec;
}

} // namespace

ModelDownloader::ModelDownloader(ModelDownloadConfig config) : config_(std::move(config)) {}

ModelDownloader::ModelDownloader(std::string endpoint, std::string repoName,
                                 std::optional<std::string> modelToken, std::string revision,
                                 bool useBackgroundSession)
    : ModelDownloader(ModelDownloadConfig{std::nullopt, std::move(repoName), std::move(modelToken),
                                          std::nullopt, useBackgroundSession, std::move(endpoint),
                                          std::move(revision)}) {}

std::optional<fs::path>
ModelDownloader::effectiveDownloadBase(const std::optional<fs::path>& downloadBase) const {
    if (downloadBase)
        return downloadBase;
    if (config_.downloadBase)
        return fs::path(*config_.downloadBase);
    return std::nullopt;
}

HubClient ModelDownloader::makeClient(const std::optional<fs::path>& downloadBase,
                                      std::optional<bool> offline) const {
    HubClientOptions options;
    options.downloadBase = effectiveDownloadBase(downloadBase);
    options.token = config_.modelToken;
    options.endpoint = config_.endpoint;
    options.useBackgroundSession = config_.useBackgroundSession;
    options.offline = offline.value_or(false);
    options.idleLimit = config_.idleLimit;
    return HubClient(std::move(options));
}

fs::path ModelDownloader::localRepoLocation(const std::optional<fs::path>& downloadBase) const {
    return makeClient(downloadBase).localRepoLocation(config_.modelRepo);
}

bool ModelDownloader::patternsExistLocally(const std::vector<std::string>& patterns, const fs::path& folder) {
    return std::all_of(patterns.begin(), patterns.end(), [&](const std::string& pattern) {
        auto prefix = fixedPrefix(pattern);
        return prefix && holdsCompleteModel(folder / *prefix);
    });
}

fs::path ModelDownloader::resolveRepo(const std::vector<std::string>& patterns,
                                      const std::optional<fs::path>& downloadBase, bool download,
                                      const ProgressCallback& progress, const std::stop_token& stop) const {
    std::for_each(patterns.begin(), patterns.end(), requireContainedPattern);
    const fs::path repoFolder = localRepoLocation(downloadBase);
    if (patternsExistLocally(patterns, repoFolder)) {
        Logging::debug("[ModelDownloader] All models found in local cache at " + repoFolder.string());
        return repoFolder;
    }
    if (!download) {
        throw ModelDownloaderError::modelUnavailable("No local models found for repo '" + config_.modelRepo +
                                                     "' and download is disabled.");
    }
    HubClient client = makeClient(downloadBase);
    Logging::info("[ModelDownloader] Downloading " + std::to_string(patterns.size()) + " model(s) from " +
                  config_.modelRepo + "...");
    const fs::path folder = client.snapshot(config_.modelRepo, config_.revision, patterns, progress, stop);
    Logging::info("[ModelDownloader] Download complete: " + folder.string());
    return folder;
}

fs::path ModelDownloader::downloadModel(const ModelInfo& modelInfo,
                                        const std::optional<fs::path>& downloadBase,
                                        std::optional<bool> useOfflineMode,
                                        const std::stop_token& stop) const {
    requireContainedNames(modelInfo);
    const std::string pattern = modelInfo.downloadPattern();
    HubClient client = makeClient(downloadBase, useOfflineMode);
    const bool offline = useOfflineMode.value_or(false);
    if (offline) {
        Logging::debug("[ModelDownloader] Searching for models matching \"" + pattern + "\" in " +
                       config_.modelRepo + "@" + config_.revision);
        if (client.listFiles(config_.modelRepo, config_.revision, {pattern}, stop).empty()) {
            throw ModelDownloaderError::modelUnavailable("No models found matching \"" + pattern + "\" in " +
                                                         config_.modelRepo);
        }
    }
    Logging::debug("[ModelDownloader] Downloading model " + pattern +
                   " with offline mode: " + (offline ? "true" : "false"));
    return client.snapshot(config_.modelRepo, config_.revision, {pattern}, {}, stop);
}

fs::path ModelDownloader::resolveModel(const std::string& fileName, const ModelInfo& modelInfo,
                                       const std::optional<fs::path>& modelFolder,
                                       const std::optional<fs::path>& downloadBase, bool download,
                                       const StateCallback& stateCallback,
                                       const std::stop_token& stop) const {
    requireContainedPath(fileName, "model file name");
    requireContainedNames(modelInfo);
    localRepoLocation(downloadBase); // a bad repository name is an error, not a missing model
    auto notify = [&](ModelState state) {
        if (stateCallback)
            stateCallback(state);
    };
    std::optional<fs::path> folder = modelFolder;
    if (!folder && config_.modelFolder)
        folder = fs::path(*config_.modelFolder);
    if (folder) {
        if (auto file = modelURLIfExists(modelInfo.modelURL(*folder), fileName)) {
            Logging::debug("[ModelDownloader] Found " + fileName + " in model folder");
            return *file;
        }
    }
    const auto base = effectiveDownloadBase(downloadBase);
    try {
        if (auto file =
                modelURLIfExists(modelInfo.modelURL(downloadModel(modelInfo, base, true)), fileName)) {
            Logging::debug("[ModelDownloader] Found existing " + fileName + " in cache");
            notify(ModelState::downloaded);
            return *file;
        }
    } catch (const std::exception&) {
        // A failed cache lookup only means the model is not there yet.
    }
    if (!download)
        throw ModelDownloaderError::modelUnavailable("No model found for " + fileName +
                                                     " (download disabled)");
    notify(ModelState::downloading);
    if (auto file = modelURLIfExists(modelInfo.modelURL(downloadModel(modelInfo, base, std::nullopt, stop)),
                                     fileName)) {
        Logging::debug("[ModelDownloader] Downloaded " + fileName);
        notify(ModelState::downloaded);
        return *file;
    }
    throw ModelDownloaderError::modelUnavailable("No model found for " + fileName);
}

std::string ModelDownloader::resolveModelPath(const std::string& fileName, const ModelInfo& modelInfo,
                                              const std::optional<fs::path>& modelFolder,
                                              const std::optional<fs::path>& downloadBase, bool download,
                                              const StateCallback& stateCallback,
                                              const std::stop_token& stop) const {
    return resolveModel(fileName, modelInfo, modelFolder, downloadBase, download, stateCallback, stop)
        .string();
}

std::vector<std::string> ModelDownloader::fetchFilenames(const std::vector<std::string>& patterns,
                                                         const std::optional<fs::path>& downloadBase,
                                                         const std::stop_token& stop) const {
    return makeClient(downloadBase).listFiles(config_.modelRepo, config_.revision, patterns, stop);
}

std::optional<fs::path> ModelDownloader::modelURLIfExists(const fs::path& folder,
                                                          const std::string& fileName) const {
    const fs::path candidate = ModelUtilities::detectModelURL(folder, fileName);
    std::error_code ec;
    if (fs::exists(candidate, ec))
        return candidate;
    return std::nullopt;
}

} // namespace basalith
