#pragma once

#include "platform/concurrency/Clock.h"
#include "platform/concurrency/SerialExecutor.h"
#include "ui/models/core/ModelFolderScan.h"
#include "ui/models/core/ModelInfo.h"

#include <filesystem>
#include <future>
#include <memory>
#include <optional>
#include <vector>

namespace velnote {

// Whether a listing may answer from the store's 60-second cache.
enum class ModelListRefresh { ifStale, force };

// The store of downloaded models, as the model window sees it.
class ModelManaging {
  public:
    virtual ~ModelManaging() = default;

    // Every downloaded model, summary and speech models together, newest modification first.
    // Never fails: what cannot be read is logged and left out.
    virtual std::future<std::vector<ModelInfo>> listAllModels(ModelListRefresh refresh) = 0;

    // Removes each model's path, in the order given; get() rethrows the first removal that failed
    // (std::system_error), and the models after it are not attempted.
    virtual std::future<void> deleteModels(std::vector<ModelInfo> models) = 0;
};

// Where the store looks. Missing folders list as empty.
struct ModelFolders {
    // "Models" in the application's data folder; none without one (the shared temporary folder is
    // never listed, let alone deleted from).
    std::optional<std::filesystem::path> summarizationModelsDir;
    ModelFolderScan::SpeechRoots whisperModelRoots;

    // $XDG_DATA_HOME/Velnote/Models; ~/.cache/huggingface/hub and ~/Documents/huggingface/models.
    static ModelFolders standard();
};

// The actor behind ModelManager::shared(): listings and deletions run one at a time on its own
// thread, the two halves of a listing side by side on the shared pool. Reads nothing but the model
// folders; writes nothing but the removals asked for.
class DefaultModelManager final : public ModelManaging {
  public:
    static constexpr std::chrono::seconds kCacheLifetime{60};

    explicit DefaultModelManager(ModelFolders folders = ModelFolders::standard(),
                                 platform::Clock* clock = nullptr); // nullptr: the system clock

    std::future<std::vector<ModelInfo>> listAllModels(ModelListRefresh refresh) override;
    // A path outside the model folders, or one of the folders themselves, is refused with EPERM
    // before anything is removed; a path that no longer exists fails with ENOENT.
    std::future<void> deleteModels(std::vector<ModelInfo> models) override;

  private:
    std::vector<ModelInfo> readModels() const;
    void removeModel(const ModelInfo& model) const;
    bool isInsideModelFolders(const std::filesystem::path& path) const;

    const ModelFolders folders_;
    platform::Clock& clock_;
    // Only on executor_:
    std::optional<std::vector<ModelInfo>> cachedModels_; // the last listing, sorted
    platform::Clock::SteadyTime modelCacheValidUntil_{}; // the cache answers until then
    platform::SerialExecutor executor_;                  // last: drains before the members above go
};

// The application's one model store.
struct ModelManager {
    static std::shared_ptr<ModelManaging> shared();
};

} // namespace velnote
