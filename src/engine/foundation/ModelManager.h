#pragma once

#include "engine/foundation/DownloadProgress.h"
#include "engine/foundation/LoadModelsCoordinator.h"
#include "engine/foundation/ModelDownloader.h"
#include "engine/foundation/ModelLoader.h"
#include "engine/foundation/ModelState.h"

#include <filesystem>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>

namespace basalith {

// Takes an engine's set of models through download, prewarming, loading and unloading, keeping one
// ModelState for the set and reporting each change to an observer. Engines derive from it and
// supply the loader; the loader does the work on the files.
//
// Every step blocks the thread that calls it (a worker thread, never the GUI thread); state
// changes, the state callback and the log lines happen on that thread, the callback before the
// step goes on. Each state test and its change are one atomic step, so overlapping direct calls see
// each other's working state and skip or fail with a state error; ensureModelsLoaded() is the road
// on which concurrent callers share one attempt. The steps that may download take a stop token and
// hand it to the loader, whose download then ends with HubError (Kind::cancelled).
class ModelManager {
  public:
    using StateCallback = std::function<void(ModelState previous, ModelState current)>;

    ModelManager(std::shared_ptr<ModelLoader> loader, std::shared_ptr<ModelDownloader> downloader);
    virtual ~ModelManager() = default;
    ModelManager(const ModelManager&) = delete;
    ModelManager& operator=(const ModelManager&) = delete;

    ModelState modelState() const;
    // Reports a change of value to the callback; assigning the current value again reports nothing.
    void setModelState(ModelState state);
    StateCallback modelStateCallback() const;
    void setModelStateCallback(StateCallback callback);

    // The folder downloadModels() settled on.
    std::optional<std::filesystem::path> modelPath() const;
    // The loader's model folder, when it has one.
    std::optional<std::filesystem::path> modelFolder() const;
    const std::shared_ptr<ModelDownloader>& downloader() const { return downloader_; }
    const std::shared_ptr<ModelLoader>& loader() const { return loader_; }

    // Downloads and loads on first use; concurrent callers share one attempt and its outcome. The
    // attempt stops once every caller sharing it has asked to stop; a caller that asked leaves at
    // once with HubError (Kind::cancelled).
    virtual void ensureModelsLoaded(const std::stop_token& stop = {});
    // Only in `unloaded`: the loader's folder, or the loader's resolveModels(). Throws its error.
    virtual void downloadModels(const ProgressCallback& progress = {}, const std::stop_token& stop = {});
    // Downloads first when unloaded; then prepares the models without loading them for use.
    // Throws BasalithError for a missing path or a state it cannot prewarm in.
    virtual void prewarmModels(const std::stop_token& stop = {});
    // Downloads first when unloaded; then loads from `downloaded` or `prewarmed`. Throws
    // BasalithError for a missing path or a state it cannot load in.
    virtual void loadModels(const std::stop_token& stop = {});
    // From `loaded` or `prewarmed` back to `unloaded`; nothing in any other state.
    virtual void unloadModels();

    // True in downloaded, loading and loaded.
    bool isAvailable() const;
    bool isLoaded() const;

  protected:
    // The unqualified name of the most-derived type; every log line starts with it in brackets.
    std::string loggerName() const;
    LoadModelsCoordinator& loadCoordinator() { return coordinator_; }

  private:
    // Sets `next` when the state is one of `from`, runs `alsoUnderLock` in the same hold of the lock
    // and reports the change. Returns the state found when it is not one of `from`.
    std::optional<ModelState> transition(std::initializer_list<ModelState> from, ModelState next,
                                         const std::function<void()>& alsoUnderLock = {});
    void report(ModelState previous, ModelState next);
    std::string resolvedModelPath() const;
    std::string tag() const { return "[" + loggerName() + "] "; }

    const std::shared_ptr<ModelLoader> loader_;
    const std::shared_ptr<ModelDownloader> downloader_;
    mutable std::mutex mutex_; // guards the three fields below
    ModelState state_ = ModelState::unloaded;
    StateCallback callback_;
    std::optional<std::filesystem::path> modelPath_;
    mutable std::once_flag loggerNameOnce_;
    mutable std::string loggerName_;
    LoadModelsCoordinator coordinator_;
};

} // namespace basalith
