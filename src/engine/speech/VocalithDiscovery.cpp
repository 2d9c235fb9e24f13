// The class-level operations of the engine: what this device should run, what the model repository
// offers, and the download of one variant folder through the hub client.

#include "engine/foundation/DeviceInfo.h"
#include "engine/foundation/Helpers.h"
#include "engine/foundation/HubClient.h"
#include "engine/speech/TextFormat.h"
#include "engine/speech/Vocalith.h"
#include "engine/speech/WhisperError.h"
#include "engine/speech/models/ModelUtilities.h"
#include "platform/fs/Files.h"

#include <set>
#include <system_error>

namespace vocalith {

using basalith::HubClient;
using basalith::HubClientOptions;
using basalith::Logging;

namespace {

// Far larger than any model-support table; a file beyond it is refused unread.
constexpr std::uintmax_t kMaxConfigFileBytes = 4 * 1024 * 1024;
constexpr const char* kRevision = "main";

HubClient makeClient(const std::optional<std::filesystem::path>& downloadBase,
                     const std::optional<std::string>& token, const std::string& endpoint,
                     bool useBackgroundSession) {
    return HubClient(HubClientOptions{.downloadBase = downloadBase,
                                      .token = token,
                                      .endpoint = endpoint,
                                      .useBackgroundSession = useBackgroundSession});
}

// The distinct top-level folders of repository paths, in first-seen order.
std::vector<std::string> folderNames(const std::vector<std::string>& paths) {
    std::vector<std::string> folders;
    for (const auto& path : paths)
        folders.push_back(path.substr(0, path.find('/')));
    return basalith::orderedSet(folders);
}

std::string quotedList(const std::vector<std::string>& names) {
    std::string list = "[";
    for (std::size_t i = 0; i < names.size(); ++i)
        list += (i == 0 ? "\"" : ", \"") + names[i] + "\"";
    return list + "]";
}

std::string describe(const basalith::DownloadProgress& progress) {
    return cFormat("Download progress: %lld of %lld files, %.1f%%%s%s",
                   static_cast<long long>(progress.completedFiles),
                   static_cast<long long>(progress.totalFiles), progress.fractionCompleted() * 100.0,
                   progress.currentFile.empty() ? "" : ", fetching ", progress.currentFile.c_str());
}

ModelSupportConfig readModelSupportConfig(const std::filesystem::path& file) {
    std::error_code error;
    const auto size = std::filesystem::file_size(file, error);
    if (error)
        throw std::system_error(error, file.string());
    if (size > kMaxConfigFileBytes)
        throw std::runtime_error(file.string() + " is larger than " + std::to_string(kMaxConfigFileBytes) +
                                 " bytes");
    return modelSupportConfigFromJson(velnote::platform::parseJson(velnote::platform::readFile(file)));
}

} // namespace

std::string Vocalith::deviceName() {
    return basalith::DeviceInfo::current().hwModel;
}

ModelSupport Vocalith::recommendedModels() {
    const std::string device = deviceName();
    Logging::debug("Running on", device);
    return Constants::fallbackModelSupportConfig().modelSupport(device);
}

ModelSupport Vocalith::recommendedRemoteModels(const std::string& repo,
                                               const std::optional<std::filesystem::path>& downloadBase,
                                               const std::optional<std::string>& token,
                                               const std::string& remoteConfigName,
                                               const std::string& endpoint) {
    return fetchModelSupportConfig(repo, downloadBase, token, remoteConfigName, endpoint)
        .modelSupport(deviceName());
}

ModelSupportConfig Vocalith::fetchModelSupportConfig(const std::string& repo,
                                                     const std::optional<std::filesystem::path>& downloadBase,
                                                     const std::optional<std::string>& token,
                                                     const std::string& remoteConfigName,
                                                     const std::string& endpoint) {
    try {
        const HubClient client = makeClient(downloadBase, token, endpoint, false);
        Logging::debug("Searching for config file matching \"" + remoteConfigName + "\" in " + repo);
        const auto files = client.listFiles(repo, kRevision, {remoteConfigName});
        if (files.empty()) {
            Logging::info("No config files found matching \"" + remoteConfigName + "\" in " + repo +
                          ", using fallback");
            return Constants::fallbackModelSupportConfig();
        }
        if (files.size() > 1) {
            Logging::info("Multiple config files found (" + std::to_string(files.size()) +
                          "): " + quotedList(files) + ". Using first matching file: " + files.front());
        }
        const auto root = client.snapshot(repo, kRevision, {files.front()});
        return readModelSupportConfig(root / files.front());
    } catch (const std::exception& error) {
        Logging::error("Fetch model support config failed with error: " + std::string(error.what()));
        return Constants::fallbackModelSupportConfig();
    }
}

std::vector<std::string>
Vocalith::fetchAvailableModels(const std::string& repo, const std::vector<std::string>& matching,
                               const std::optional<std::filesystem::path>& downloadBase,
                               const std::optional<std::string>& token, const std::string& remoteConfigName,
                               const std::string& endpoint) {
    const auto supported = fetchModelSupportConfig(repo, downloadBase, token, remoteConfigName, endpoint)
                               .modelSupport(deviceName())
                               .supported();
    std::set<std::string> names;
    for (const auto& pattern : matching) {
        for (auto& name : basalith::matchingGlob(supported, pattern))
            names.insert(std::move(name));
    }
    return ModelUtilities::formatModelFiles({names.begin(), names.end()});
}

std::filesystem::path Vocalith::download(const std::string& variant,
                                         const std::optional<std::filesystem::path>& downloadBase,
                                         bool useBackgroundSession, const std::string& repo,
                                         const std::optional<std::string>& token, const std::string& endpoint,
                                         const basalith::ProgressCallback& progressCallback) {
    try {
        const HubClient client = makeClient(downloadBase, token, endpoint, useBackgroundSession);
        std::string pattern = "*" + variant + "/*";
        Logging::debug("Searching for models matching \"" + pattern + "\" in " + repo);
        auto folders = folderNames(client.listFiles(repo, kRevision, {pattern}));
        if (folders.size() != 1) {
            Logging::debug("Multiple models found matching \"" + pattern + "\"");
            pattern = "*openai*" + variant + "/*";
            Logging::debug("Searching for models matching \"" + pattern + "\" in " + repo);
            folders = folderNames(client.listFiles(repo, kRevision, {pattern}));
            if (folders.size() != 1) {
                throw WhisperError::modelsUnavailable(
                    (folders.empty() ? "No models found matching \"" : "Multiple models found matching \"") +
                    pattern + "\" in " + repo);
            }
        }
        Logging::debug("Downloading model " + folders.front() + "...");
        const auto root =
            client.snapshot(repo, kRevision, {pattern}, [&](const basalith::DownloadProgress& progress) {
                Logging::debug(describe(progress));
                if (progressCallback)
                    progressCallback(progress);
            });
        return root / folders.front();
    } catch (const std::exception& error) {
        Logging::debug(error.what());
        throw;
    }
}

} // namespace vocalith
