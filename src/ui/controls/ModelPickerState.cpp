#include "ui/controls/ModelPickerState.h"

#include "platform/concurrency/MainDispatcher.h"
#include "platform/concurrency/ThreadPool.h"
#include "session/VelnoteLogger.h"
#include "session/l10n/L10n.h"

#include <algorithm>
#include <exception>

namespace velnote {

std::shared_ptr<ModelPickerState> ModelPickerState::create(ModelPickerConfig config) {
    return create(std::move(config), platform::ThreadPool::shared().executor(platform::Priority::utility),
                  platform::MainDispatcher::shared());
}

std::shared_ptr<ModelPickerState>
ModelPickerState::create(ModelPickerConfig config, platform::Executor& worker, platform::Executor& main) {
    return std::shared_ptr<ModelPickerState>(new ModelPickerState(std::move(config), worker, main));
}

ModelPickerState::ModelPickerState(ModelPickerConfig config, platform::Executor& worker,
                                   platform::Executor& main)
    : config_(std::move(config)), worker_(worker), main_(main) {
    lastSeenFreeOnly_ = freeOnly();
}

void ModelPickerState::setCustomModelText(const std::string& text) {
    customModelText_ = text;
}

bool ModelPickerState::hasResults() const {
    return !models_.empty() || !modelInfos_.empty();
}

std::vector<std::string> ModelPickerState::pickerItems() const {
    if (models_.empty()) {
        return {};
    }
    const std::string selected = config_.selectedModel.get();
    if (selected.empty() || std::ranges::find(models_, selected) != models_.end()) {
        return models_;
    }
    std::vector<std::string> items{selected};
    items.insert(items.end(), models_.begin(), models_.end());
    return items;
}

std::vector<RemoteModelInfo> ModelPickerState::infoPickerItems() const {
    if (modelInfos_.empty()) {
        return {};
    }
    const std::string selected = config_.selectedModel.get();
    if (selected.empty() ||
        std::ranges::any_of(modelInfos_, [&](const auto& info) { return info.id == selected; })) {
        return modelInfos_;
    }
    RemoteModelInfo madeUp; // no statistics: the label is just the identifier
    madeUp.id = selected;
    std::vector<RemoteModelInfo> items{madeUp};
    items.insert(items.end(), modelInfos_.begin(), modelInfos_.end());
    return items;
}

std::vector<ModelPickerState::Entry> ModelPickerState::entries() const {
    std::vector<Entry> rows;
    if (!modelInfos_.empty()) {
        for (const RemoteModelInfo& info : infoPickerItems()) {
            rows.push_back({.kind = Entry::Kind::model, .title = info.displayLabel(), .value = info.id});
        }
    } else if (!models_.empty()) {
        for (const std::string& id : pickerItems()) {
            rows.push_back({.kind = Entry::Kind::model, .title = id, .value = id});
        }
    } else if (const std::string selected = config_.selectedModel.get(); !selected.empty()) {
        rows.push_back({.kind = Entry::Kind::model, .title = selected, .value = selected});
    } else {
        rows.push_back({.kind = Entry::Kind::model,
                        .title = L10n::localized("L10n.ModelFetch.unselected", "Select a model..."),
                        .value = ""});
    }
    rows.push_back({.kind = Entry::Kind::divider, .title = "", .value = ""});
    rows.push_back({.kind = Entry::Kind::custom,
                    .title = L10n::localized("L10n.ModelFetch.custom", "Custom..."),
                    .value = kCustomTag});
    return rows;
}

std::string ModelPickerState::normalizedSelectedModel() const {
    return isCustomMode_ ? std::string(kCustomTag) : config_.selectedModel.get();
}

void ModelPickerState::setNormalizedSelectedModel(const std::string& value) {
    if (value == kCustomTag) {
        customModelText_ = config_.selectedModel.get();
        isCustomMode_ = true;
    } else {
        isCustomMode_ = false;
        config_.selectedModel.set(value);
    }
    changed();
}

void ModelPickerState::commitCustom() {
    config_.selectedModel.set(customModelText_);
    isCustomMode_ = false;
    changed();
}

void ModelPickerState::cancelCustom() {
    isCustomMode_ = false;
    changed();
}

bool ModelPickerState::freeOnly() const {
    return config_.freeOnlyBinding ? config_.freeOnlyBinding->get() : freeOnlyLocal_;
}

void ModelPickerState::setFreeOnly(bool value) {
    if (config_.freeOnlyBinding) {
        config_.freeOnlyBinding->set(value);
    } else {
        freeOnlyLocal_ = value;
    }
    noticeFreeOnlyChange();
    changed();
}

void ModelPickerState::noticeFreeOnlyChange() {
    const bool current = freeOnly();
    if (current == lastSeenFreeOnly_) {
        return;
    }
    lastSeenFreeOnly_ = current;
    if (hasResults()) {
        loadModels();
    }
}

void ModelPickerState::setFetchActions(ModelPickerConfig::FetchModels fetchModels,
                                       ModelPickerConfig::FetchModelInfos fetchModelInfos) {
    config_.fetchModels = std::move(fetchModels);
    config_.fetchModelInfos = std::move(fetchModelInfos);
}

void ModelPickerState::loadModels() {
    fetchError_.reset();
    if (!config_.fetchModelInfos && !config_.fetchModels) {
        changed();
        return;
    }
    const std::uint64_t generation = ++lastGeneration_;
    pendingFetch_ = generation;
    const bool flag = config_.showFreeOnlyToggle && freeOnly();
    changed();
    worker_.post([weak = weak_from_this(), &main = main_, fetchModels = config_.fetchModels,
                  fetchModelInfos = config_.fetchModelInfos, flag, generation] {
        Outcome outcome = runFetch(fetchModels, fetchModelInfos, flag);
        // A picker closed meanwhile simply never hears of it.
        main.post([weak, generation, outcome = std::move(outcome)]() mutable {
            if (auto self = weak.lock()) {
                self->finishFetch(generation, std::move(outcome));
            }
        });
    });
}

ModelPickerState::Outcome
ModelPickerState::runFetch(const ModelPickerConfig::FetchModels& fetchModels,
                           const ModelPickerConfig::FetchModelInfos& fetchModelInfos, bool freeOnly) {
    Outcome outcome;
    try {
        if (fetchModelInfos) {
            outcome.infos = fetchModelInfos(freeOnly);
            outcome.usedInfos = true;
        } else {
            outcome.models = fetchModels(freeOnly);
        }
    } catch (const std::exception& error) {
        outcome.error = error.what();
    } catch (...) {
        outcome.error = "unknown error";
    }
    if (outcome.error) {
        VelnoteLogger::app().error("model fetch failed: {}", *outcome.error);
    }
    return outcome;
}

void ModelPickerState::finishFetch(std::uint64_t generation, Outcome outcome) {
    if (pendingFetch_ != generation) {
        return; // a newer fetch has started since; its answer is the one to show
    }
    pendingFetch_.reset();
    if (outcome.error) {
        fetchError_ = std::move(outcome.error);
    } else if (outcome.usedInfos) {
        modelInfos_ = std::move(outcome.infos);
        models_.clear();
    } else {
        models_ = std::move(outcome.models);
        modelInfos_.clear();
    }
    changed();
}

void ModelPickerState::changed() const {
    if (onChange_) {
        onChange_();
    }
}

} // namespace velnote
