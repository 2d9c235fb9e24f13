#pragma once

#include "engine/foundation/DownloadProgress.h"

#include <optional>
#include <stop_token>
#include <string>

namespace basalith {

class ModelDownloader;

// What an engine supplies to a ModelManager: the work on the model files themselves. Called on the
// thread that runs the manager's step; every call may block.
class ModelLoader {
  public:
    virtual ~ModelLoader() = default;

    // A local folder that already holds the models; when present, nothing is downloaded.
    virtual std::optional<std::string> modelFolder() const = 0;
    // Finds the models locally or downloads them; returns the folder that holds them. May throw; a
    // stop request on `stop` should end a download (the downloader's operations take it).
    virtual std::string resolveModels(ModelDownloader& downloader, const ProgressCallback& progress,
                                      const std::stop_token& stop) = 0;
    // Loads the models from `folder`; with `prewarm` true it only prepares them for this machine.
    // May throw.
    virtual void load(const std::string& folder, bool prewarm) = 0;
    // Releases whatever load() holds.
    virtual void unload() noexcept = 0;
};

} // namespace basalith
