#include "ui/models/core/ModelManager.h"

#include "platform/concurrency/SystemClock.h"
#include "platform/concurrency/ThreadPool.h"
#include "platform/fs/AppFolders.h"

#include <algorithm>
#include <iterator>
#include <system_error>

namespace velnote {
namespace fs = std::filesystem;

ModelFolders ModelFolders::standard() {
    ModelFolders folders;
    if (const auto support = platform::applicationSupportDirectory())
        folders.summarizationModelsDir = *support / "Models";
    if (const auto home = platform::homeDirectory()) {
        folders.whisperModelRoots.hub = *home / ".cache" / "huggingface" / "hub";
        folders.whisperModelRoots.repositories = *home / "Documents" / "huggingface" / "models";
    }
    return folders;
}

DefaultModelManager::DefaultModelManager(ModelFolders folders, platform::Clock* clock)
    : folders_(std::move(folders)), clock_(clock != nullptr ? *clock : platform::SystemClock::shared()) {}

std::future<std::vector<ModelInfo>> DefaultModelManager::listAllModels(ModelListRefresh refresh) {
    return executor_.submit([this, refresh] {
        if (refresh == ModelListRefresh::ifStale && cachedModels_ && clock_.now() < modelCacheValidUntil_)
            return *cachedModels_;
        std::vector<ModelInfo> models = readModels();
        cachedModels_ = models;
        modelCacheValidUntil_ = clock_.now() + kCacheLifetime;
        return models;
    });
}

std::future<void> DefaultModelManager::deleteModels(std::vector<ModelInfo> models) {
    return executor_.submit([this, models = std::move(models)] {
        for (const ModelInfo& model : models)
            removeModel(model); // the first failure leaves the cache as it was
        cachedModels_.reset();
        modelCacheValidUntil_ = {};
    });
}

std::vector<ModelInfo> DefaultModelManager::readModels() const {
    platform::Executor& pool = platform::ThreadPool::shared().executor(platform::Priority::utility);
    auto summaries = pool.submit([dir = folders_.summarizationModelsDir] {
        return dir ? ModelFolderScan::enumerateModels(*dir, ModelType::summarization)
                   : std::vector<ModelInfo>{};
    });
    auto speech = pool.submit(
        [roots = folders_.whisperModelRoots] { return ModelFolderScan::enumerateWhisperModels(roots); });
    std::vector<ModelInfo> models = summaries.get();
    std::vector<ModelInfo> speechModels = speech.get();
    std::move(speechModels.begin(), speechModels.end(), std::back_inserter(models));
    // Stable: a summary model and a speech model of the same date keep the summary model first.
    std::stable_sort(models.begin(), models.end(),
                     [](const ModelInfo& a, const ModelInfo& b) { return a.modifiedDate > b.modifiedDate; });
    return models;
}

void DefaultModelManager::removeModel(const ModelInfo& model) const {
    if (!isInsideModelFolders(model.path)) {
        throw std::system_error(std::make_error_code(std::errc::operation_not_permitted),
                                "\"" + model.path.string() + "\" is not in a model folder");
    }
    std::error_code error;
    if (fs::symlink_status(model.path, error).type() == fs::file_type::not_found) {
        throw std::system_error(std::make_error_code(std::errc::no_such_file_or_directory),
                                "\"" + model.name + "\" couldn't be removed");
    }
    fs::remove_all(model.path, error);
    if (error)
        throw std::system_error(error, "\"" + model.name + "\" couldn't be removed");
}

bool DefaultModelManager::isInsideModelFolders(const fs::path& path) const {
    const fs::path target = path.lexically_normal();
    const auto within = [&target](const std::optional<fs::path>& root) {
        if (!root || target.filename().empty())
            return false;
        const fs::path relative = target.lexically_relative(root->lexically_normal());
        return !relative.empty() && relative != "." && *relative.begin() != "..";
    };
    return within(folders_.summarizationModelsDir) || within(folders_.whisperModelRoots.hub) ||
           within(folders_.whisperModelRoots.repositories);
}

std::shared_ptr<ModelManaging> ModelManager::shared() {
    static const std::shared_ptr<ModelManaging> store = std::make_shared<DefaultModelManager>();
    return store;
}

} // namespace velnote
