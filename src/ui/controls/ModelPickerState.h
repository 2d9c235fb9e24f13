#pragma once

#include "platform/concurrency/Executor.h"
#include "providers/models/RemoteModelFetchService.h"
#include "ui/controls/Binding.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velnote {

// What a model picker is built with. Only the chosen identifier and the free-only flag belong to
// the user of the picker; the lists it fetches are its own and gone when it goes.
struct ModelPickerConfig {
    // Both fetch actions run on a worker thread, may block and may throw; the exception's what()
    // is what the picker shows. `freeOnly` is the check box's value, or false without it.
    using FetchModels = std::function<std::vector<std::string>(bool freeOnly)>;
    using FetchModelInfos = std::function<std::vector<RemoteModelInfo>(bool freeOnly)>;

    std::string label;                  // the picker's title and the custom field's placeholder
    Binding<std::string> selectedModel; // empty: none chosen
    FetchModels fetchModels{};          // ignored when fetchModelInfos is given
    FetchModelInfos fetchModelInfos{};
    bool showFreeOnlyToggle = false;
    std::optional<Binding<bool>> freeOnlyBinding{}; // without it the picker keeps its own flag
};

// The state and actions of one model picker, without widgets: the fetched lists, the loading and
// error state, the custom-identifier mode and what the pop-up offers. Main thread only; a fetch
// runs on `worker` and its result comes back through `main`.
//
// Only the newest fetch counts: a check-box change may start a fetch while another runs, and an
// older answer arriving last would otherwise put, say, the full list under a ticked "Free models
// only". Older answers are dropped (their errors still logged) and the loading state lasts until
// the newest one is in.
class ModelPickerState : public std::enable_shared_from_this<ModelPickerState> {
  public:
    static constexpr const char* kCustomTag = "__custom__";

    // One row of the pop-up: a model, the "Select a model..." row, the divider or "Custom...".
    struct Entry {
        enum class Kind { model, divider, custom };
        Kind kind = Kind::model;
        std::string title{};
        std::string value{};
        bool operator==(const Entry&) const = default;
    };

    static std::shared_ptr<ModelPickerState> create(ModelPickerConfig config);
    static std::shared_ptr<ModelPickerState> create(ModelPickerConfig config, platform::Executor& worker,
                                                    platform::Executor& main);

    // Called after every change of the picker's own state (not of the bindings' owners).
    void setOnChange(std::function<void()> onChange) { onChange_ = std::move(onChange); }

    const ModelPickerConfig& config() const { return config_; }
    const std::vector<std::string>& models() const { return models_; }
    const std::vector<RemoteModelInfo>& modelInfos() const { return modelInfos_; }
    bool isLoading() const { return pendingFetch_.has_value(); }
    const std::optional<std::string>& fetchError() const { return fetchError_; }
    bool isCustomMode() const { return isCustomMode_; }
    const std::string& customModelText() const { return customModelText_; }
    void setCustomModelText(const std::string& text);

    bool hasResults() const;
    // The fetched identifiers, with a chosen one they lack listed first.
    std::vector<std::string> pickerItems() const;
    // The fetched entries, with a made-up entry (no statistics) for a chosen one they lack first.
    std::vector<RemoteModelInfo> infoPickerItems() const;
    // The pop-up's rows, top to bottom.
    std::vector<Entry> entries() const;

    // The pop-up's selection: kCustomTag in custom mode, else the chosen identifier. Choosing
    // kCustomTag enters custom mode with the chosen identifier to edit; anything else is chosen.
    std::string normalizedSelectedModel() const;
    void setNormalizedSelectedModel(const std::string& value);
    // Chooses the typed identifier as typed (empty clears the choice) and leaves custom mode.
    void commitCustom();
    // Leaves custom mode; the choice and the typed text stay.
    void cancelCustom();

    // The check box: the binding's value when there is one, else the picker's own.
    bool freeOnly() const;
    // Sets it; a real change refetches when a list has been fetched.
    void setFreeOnly(bool value);
    // Refetches when the binding's owner changed the flag since the picker last saw it.
    void noticeFreeOnlyChange();

    // Replaces the fetch actions (their captured keys and addresses changed); a fetch under way
    // keeps the ones it started with.
    void setFetchActions(ModelPickerConfig::FetchModels fetchModels,
                         ModelPickerConfig::FetchModelInfos fetchModelInfos);

    // The refresh button: clears the error and fetches with whichever action is given.
    void loadModels();

  private:
    struct Outcome {
        std::vector<std::string> models;
        std::vector<RemoteModelInfo> infos;
        bool usedInfos = false;
        std::optional<std::string> error;
    };

    ModelPickerState(ModelPickerConfig config, platform::Executor& worker, platform::Executor& main);

    static Outcome runFetch(const ModelPickerConfig::FetchModels& fetchModels,
                            const ModelPickerConfig::FetchModelInfos& fetchModelInfos, bool freeOnly);
    void finishFetch(std::uint64_t generation, Outcome outcome);
    void changed() const;

    ModelPickerConfig config_;
    platform::Executor& worker_;
    platform::Executor& main_;
    std::function<void()> onChange_;

    std::vector<std::string> models_;
    std::vector<RemoteModelInfo> modelInfos_;
    std::optional<std::uint64_t> pendingFetch_; // the generation of the newest fetch still out
    std::uint64_t lastGeneration_ = 0;
    std::optional<std::string> fetchError_;
    bool freeOnlyLocal_ = false;
    bool lastSeenFreeOnly_ = false;
    bool isCustomMode_ = false;
    std::string customModelText_;
};

} // namespace velnote
