#include "engine/foundation/ModelManager.h"

#include "engine/foundation/BasalithError.h"
#include "engine/foundation/Logging.h"
#include "platform/error/ErrorText.h"

#include <algorithm>
#include <cstdlib>
#include <cxxabi.h>
#include <typeinfo>
#include <utility>

namespace basalith {
namespace {

// "ns::Outer::Name<int>" -> "Name".
std::string unqualifiedName(const std::type_info& type) {
    int status = 0;
    std::unique_ptr<char, decltype(&std::free)> demangled(
        abi::__cxa_demangle(type.name(), nullptr, nullptr, &status), &std::free);
    std::string name = status == 0 && demangled ? demangled.get() : type.name();
    if (auto bracket = name.find('<'); bracket != std::string::npos)
        name.resize(bracket);
    if (auto colons = name.rfind("::"); colons != std::string::npos)
        name.erase(0, colons + 2);
    return name;
}

} // namespace

ModelManager::ModelManager(std::shared_ptr<ModelLoader> loader, std::shared_ptr<ModelDownloader> downloader)
    : loader_(std::move(loader)), downloader_(std::move(downloader)) {}

ModelState ModelManager::modelState() const {
    std::lock_guard lock(mutex_);
    return state_;
}

void ModelManager::setModelState(ModelState state) {
    ModelState previous;
    {
        std::lock_guard lock(mutex_);
        previous = std::exchange(state_, state);
    }
    report(previous, state);
}

std::optional<ModelState> ModelManager::transition(std::initializer_list<ModelState> from, ModelState next,
                                                   const std::function<void()>& alsoUnderLock) {
    ModelState previous;
    {
        std::lock_guard lock(mutex_);
        if (std::find(from.begin(), from.end(), state_) == from.end())
            return state_;
        previous = std::exchange(state_, next);
        if (alsoUnderLock)
            alsoUnderLock();
    }
    report(previous, next);
    return std::nullopt;
}

void ModelManager::report(ModelState previous, ModelState next) {
    if (previous == next)
        return;
    if (auto callback = modelStateCallback())
        callback(previous, next);
}

ModelManager::StateCallback ModelManager::modelStateCallback() const {
    std::lock_guard lock(mutex_);
    return callback_;
}

void ModelManager::setModelStateCallback(StateCallback callback) {
    std::lock_guard lock(mutex_);
    callback_ = std::move(callback);
}

std::optional<std::filesystem::path> ModelManager::modelPath() const {
    std::lock_guard lock(mutex_);
    return modelPath_;
}

std::optional<std::filesystem::path> ModelManager::modelFolder() const {
    if (auto folder = loader_->modelFolder())
        return std::filesystem::path(*folder);
    return std::nullopt;
}

bool ModelManager::isAvailable() const {
    const ModelState state = modelState();
    return state == ModelState::downloaded || state == ModelState::loading || state == ModelState::loaded;
}

bool ModelManager::isLoaded() const {
    return modelState() == ModelState::loaded;
}

std::string ModelManager::loggerName() const {
    std::call_once(loggerNameOnce_, [this] { loggerName_ = unqualifiedName(typeid(*this)); });
    return loggerName_;
}

std::string ModelManager::resolvedModelPath() const {
    if (auto path = modelPath())
        return path->string();
    if (auto folder = loader_->modelFolder())
        return *folder;
    throw BasalithError::invalidConfiguration(
        "No model path available. Call downloadModels() first, or provide modelFolder.");
}

void ModelManager::downloadModels(const ProgressCallback& progress, const std::stop_token& stop) {
    auto skip = [&](ModelState state) {
        Logging::debug(tag() + "Models already downloaded (state: " + description(state) +
                       "), skipping download");
    };
    if (ModelState state = modelState(); state != ModelState::unloaded)
        return skip(state);

    if (auto folder = loader_->modelFolder()) {
        Logging::debug(tag() + "modelFolder is set, skipping download");
        if (auto found =
                transition({ModelState::unloaded}, ModelState::downloaded, [&] { modelPath_ = *folder; })) {
            skip(*found);
        }
        return;
    }

    Logging::info(tag() + "Starting download process...");
    if (auto found = transition({ModelState::unloaded}, ModelState::downloading))
        return skip(*found);
    std::string path;
    try {
        path = loader_->resolveModels(*downloader_, progress, stop);
    } catch (...) {
        setModelState(ModelState::unloaded);
        Logging::error(tag() + "Failed to download models: " +
                       velnote::platform::describeError(std::current_exception()));
        throw;
    }
    {
        std::lock_guard lock(mutex_);
        modelPath_ = path;
    }
    setModelState(ModelState::downloaded);
    Logging::info(tag() + "Models downloaded to " + path);
}

void ModelManager::prewarmModels(const std::stop_token& stop) {
    if (modelState() == ModelState::unloaded)
        downloadModels({}, stop);
    const std::string path = resolvedModelPath();
    if (auto found = transition({ModelState::downloaded}, ModelState::prewarming)) {
        if (*found == ModelState::prewarmed) {
            Logging::debug(tag() + "Models already prewarmed, skipping");
            return;
        }
        throw BasalithError::invalidConfiguration(std::string("Cannot prewarm in state: ") +
                                                  description(*found));
    }
    try {
        loader_->load(path, true);
    } catch (...) {
        setModelState(ModelState::unloaded);
        Logging::error(tag() + "Failed to prewarm models: " +
                       velnote::platform::describeError(std::current_exception()));
        throw;
    }
    setModelState(ModelState::prewarmed);
    Logging::info(tag() + "Models prewarmed successfully");
}

void ModelManager::loadModels(const std::stop_token& stop) {
    if (modelState() == ModelState::unloaded)
        downloadModels({}, stop);
    const std::string path = resolvedModelPath();
    if (auto found = transition({ModelState::downloaded, ModelState::prewarmed}, ModelState::loading)) {
        if (*found == ModelState::loaded) {
            Logging::debug(tag() + "Models already loaded, skipping");
            return;
        }
        throw BasalithError::invalidConfiguration(std::string("Cannot load in state: ") +
                                                  description(*found));
    }
    try {
        loader_->load(path, false);
    } catch (...) {
        setModelState(ModelState::unloaded);
        Logging::error(
            tag() + "Failed to load models: " + velnote::platform::describeError(std::current_exception()));
        throw;
    }
    setModelState(ModelState::loaded);
    Logging::info(tag() + "Models loaded successfully");
}

void ModelManager::unloadModels() {
    if (transition({ModelState::loaded, ModelState::prewarmed}, ModelState::unloading))
        return;
    loader_->unload();
    setModelState(ModelState::unloaded);
}

void ModelManager::ensureModelsLoaded(const std::stop_token& stop) {
    if (modelState() == ModelState::loaded)
        return;
    coordinator_.run(
        [this](std::stop_token attemptStop) {
            if (modelState() == ModelState::loaded)
                return;
            downloadModels({}, attemptStop);
            loadModels(attemptStop);
        },
        stop);
}

} // namespace basalith
