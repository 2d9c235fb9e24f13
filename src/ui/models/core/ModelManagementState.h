#pragma once

#include "platform/concurrency/Executor.h"
#include "platform/concurrency/MainDispatcher.h"
#include "ui/models/core/ModelManager.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace velnote {

// What the model management window shows and does, without the widgets: the list read from the
// store, the selection, the loading and error states, the delete confirmation and the total size.
// Main thread only; the store works on its own thread and its answers come back through the main
// dispatcher. The view redraws from the state whenever the change callback runs.
class ModelManagementState {
  public:
    struct Dependencies {
        std::shared_ptr<ModelManaging> store;     // ModelManager::shared() when empty
        platform::MainDispatcher* main = nullptr; // MainDispatcher::shared()
        platform::Executor* background = nullptr; // waits for the store; the shared pool
    };

    ModelManagementState();
    explicit ModelManagementState(Dependencies dependencies);
    ~ModelManagementState();
    ModelManagementState(const ModelManagementState&) = delete;
    ModelManagementState& operator=(const ModelManagementState&) = delete;

    // Called after every change of the state below.
    void setOnChange(std::function<void()> onChange);

    const std::vector<ModelInfo>& models() const { return models_; }
    const std::set<std::string>& selectedModels() const { return selectedModels_; }
    bool isLoading() const { return isLoading_; }
    const std::optional<std::string>& errorMessage() const { return errorMessage_; }
    bool showDeleteConfirmation() const { return showDeleteConfirmation_; }
    std::int64_t totalSize() const { return totalSize_; }

    // The selection as the list reports it (ids of the selected rows).
    void setSelectedModels(std::set<std::string> ids);
    // "Clear" and "Delete" act only on a selection.
    bool hasSelection() const { return !selectedModels_.empty(); }
    void clearSelection();
    // "Delete" in the header: asks for the confirmation; nothing is removed yet.
    void requestDeletion();
    // The confirmation closed without its "Delete" button.
    void dismissDeleteConfirmation();

    // Each appearance of the window: reads the list anew (never from the store's cache); the
    // selection keeps only the models still listed.
    void loadModels();
    // The confirmation's "Delete": removes the selected listed models, then reloads; a failure
    // shows "Failed to delete models: ..." in place of the list and keeps the selection.
    void deleteSelectedModels();

    // Texts of the header and the confirmation (which counts the selected listed models).
    std::string totalSizeText() const;
    std::string deleteConfirmationMessage() const;

  private:
    void changed();
    // The listed models whose rows are selected, in list order: what "Delete" removes.
    std::vector<ModelInfo> chosenModels() const;
    // Runs `resume` on the main thread with the future's outcome, unless this model is gone.
    template <class T, class F> void whenReady(std::future<T> future, F resume);

    Dependencies dependencies_;
    std::function<void()> onChange_;
    std::vector<ModelInfo> models_;
    std::set<std::string> selectedModels_;
    bool isLoading_ = true;
    std::optional<std::string> errorMessage_;
    bool showDeleteConfirmation_ = false;
    std::int64_t totalSize_ = 0;
    // Answers that arrive after the model is gone find this expired.
    std::shared_ptr<ModelManagementState*> self_;
};

} // namespace velnote
