#include "ui/models/core/ModelManagementState.h"

#include "platform/concurrency/ThreadPool.h"
#include "platform/error/ErrorText.h"
#include "session/l10n/L10n.h"
#include "ui/models/core/ByteCountText.h"

#include <algorithm>
#include <exception>
#include <numeric>

namespace velnote {

ModelManagementState::ModelManagementState(Dependencies dependencies)
    : dependencies_(std::move(dependencies)), self_(std::make_shared<ModelManagementState*>(this)) {
    if (!dependencies_.store)
        dependencies_.store = ModelManager::shared();
    if (dependencies_.main == nullptr)
        dependencies_.main = &platform::MainDispatcher::shared();
    if (dependencies_.background == nullptr)
        dependencies_.background = &platform::ThreadPool::shared().executor(platform::Priority::utility);
}

ModelManagementState::ModelManagementState() : ModelManagementState(Dependencies{}) {}

ModelManagementState::~ModelManagementState() = default;

void ModelManagementState::setOnChange(std::function<void()> onChange) {
    onChange_ = std::move(onChange);
}

void ModelManagementState::changed() {
    if (onChange_)
        onChange_();
}

template <class T, class F> void ModelManagementState::whenReady(std::future<T> future, F resume) {
    auto shared = std::make_shared<std::future<T>>(std::move(future));
    std::weak_ptr<ModelManagementState*> weak = self_;
    platform::MainDispatcher* main = dependencies_.main;
    dependencies_.background->post([shared, weak, main, resume = std::move(resume)]() mutable {
        shared->wait();
        main->post([shared, weak, resume = std::move(resume)]() mutable {
            if (auto alive = weak.lock())
                resume(**alive, *shared);
        });
    });
}

void ModelManagementState::setSelectedModels(std::set<std::string> ids) {
    if (ids == selectedModels_)
        return;
    selectedModels_ = std::move(ids);
    changed();
}

void ModelManagementState::clearSelection() {
    setSelectedModels({});
}

void ModelManagementState::requestDeletion() {
    if (!hasSelection())
        return;
    showDeleteConfirmation_ = true;
    changed();
}

void ModelManagementState::dismissDeleteConfirmation() {
    showDeleteConfirmation_ = false;
    changed();
}

void ModelManagementState::loadModels() {
    isLoading_ = true;
    errorMessage_.reset();
    changed();
    whenReady(dependencies_.store->listAllModels(ModelListRefresh::force),
              [](ModelManagementState& self, std::future<std::vector<ModelInfo>>& listing) {
                  // Listing never fails; a broken promise (store gone) shows an empty list.
                  try {
                      self.models_ = listing.get();
                  } catch (const std::exception&) {
                      self.models_.clear();
                  }
                  self.totalSize_ =
                      std::accumulate(self.models_.begin(), self.models_.end(), std::int64_t{0},
                                      [](std::int64_t sum, const ModelInfo& m) { return sum + m.size; });
                  // A selected model that is gone from the disk no longer counts as selected: the
                  // buttons and the confirmation speak only of rows the user can see.
                  std::erase_if(self.selectedModels_, [&self](const std::string& id) {
                      return std::none_of(self.models_.begin(), self.models_.end(),
                                          [&id](const ModelInfo& m) { return m.id == id; });
                  });
                  self.isLoading_ = false;
                  self.changed();
              });
}

std::vector<ModelInfo> ModelManagementState::chosenModels() const {
    std::vector<ModelInfo> chosen;
    for (const ModelInfo& model : models_) {
        if (selectedModels_.contains(model.id))
            chosen.push_back(model);
    }
    return chosen;
}

void ModelManagementState::deleteSelectedModels() {
    showDeleteConfirmation_ = false;
    std::vector<ModelInfo> chosen = chosenModels();
    changed();
    whenReady(dependencies_.store->deleteModels(std::move(chosen)),
              [](ModelManagementState& self, std::future<void>& deletion) {
                  try {
                      deletion.get();
                  } catch (...) {
                      self.errorMessage_ =
                          L10n::localized("L10n.ModelManagement.deleteFailed", "Failed to delete models: %@",
                                          {platform::describeError(std::current_exception())});
                      self.changed();
                      return;
                  }
                  self.selectedModels_.clear();
                  self.loadModels();
              });
}

std::string ModelManagementState::totalSizeText() const {
    return L10n::localized("L10n.ModelManagement.totalSize", "Total size: %@", {formatByteCount(totalSize_)});
}

std::string ModelManagementState::deleteConfirmationMessage() const {
    return L10n::localized("L10n.ModelManagement.deleteModelsMessage",
                           "Delete %d models?\nThis action cannot be undone.",
                           {static_cast<std::int64_t>(chosenModels().size())});
}

} // namespace velnote
