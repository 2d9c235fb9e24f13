#pragma once

#include "context/live/summary/LiveSummaryGenerator.h"
#include "platform/concurrency/CancellationError.h"
#include "processing/modelslot/ModelExecutionScheduler.h"
#include "providers/support/ProviderTestEnvironment.h"
#include "support/TempDir.h"

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

namespace velnote::testing {

// The local model of the live summary: answers by `answer`, records every prompt, and while held
// keeps its caller waiting until released, or until stopped (then it ends with CancellationError).
class ScriptedLocalModel {
  public:
    std::function<std::string(const std::string& prompt)> answer = [](const std::string&) {
        return std::string("- the summary");
    };

    std::string generate(const std::string& prompt, std::stop_token stop) {
        // Made before the lock is taken, so that its end never waits for a callback that waits
        // for the lock.
        std::stop_callback wake(stop, [this] {
            std::lock_guard lock(mutex_);
            changed_.notify_all();
        });
        std::unique_lock lock(mutex_);
        prompts_.push_back(prompt);
        ++waiting_;
        changed_.notify_all();
        changed_.wait(lock, [&] { return !held_ || (stop.stop_requested() && !ignoresStop_); });
        --waiting_;
        const bool cancelled = held_;
        lock.unlock();
        if (cancelled) {
            throw platform::CancellationError();
        }
        return answer(prompt);
    }

    void hold() {
        std::lock_guard lock(mutex_);
        held_ = true;
    }
    // While held, waits for the release even when stopped (a model that does not hear the stop).
    void ignoreStop() {
        std::lock_guard lock(mutex_);
        ignoresStop_ = true;
    }
    void release() {
        std::lock_guard lock(mutex_);
        held_ = false;
        changed_.notify_all();
    }
    // True once a call waits in the held model.
    bool waitForHeldCall(std::chrono::seconds timeout = std::chrono::seconds(10)) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [this] { return waiting_ > 0; });
    }
    std::vector<std::string> prompts() const {
        std::lock_guard lock(mutex_);
        return prompts_;
    }
    std::size_t calls() const { return prompts().size(); }

  private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> prompts_;
    bool held_ = false;
    bool ignoresStop_ = false;
    int waiting_ = 0;
};

// The roads of the live summary on test doubles: the scripted local model with its own slot and
// a model file that exists, the provider environment of `providers` with its chat endpoints on
// `server`, and no model folders or downloads.
class LiveSummaryRoads {
  public:
    LiveSummaryRoads() { std::ofstream(modelFile) << "GGUF"; }

    LiveSummaryGenerator::Environment environment(LoopbackServer& server,
                                                  InterfaceLanguage language = InterfaceLanguage::english) {
        LiveSummaryGenerator::Environment environment{
            .local = {.generate = [this](const std::string& prompt, const std::filesystem::path&,
                                         std::int64_t,
                                         std::stop_token stop) { return model.generate(prompt, stop); },
                      .scheduler = &scheduler,
                      .models = {.persistent = dir.path() / "models",
                                 .cache = std::nullopt,
                                 .legacy = {},
                                 .hubBaseURL = "http://127.0.0.1:9",
                                 .http = nullptr},
                      .language = language},
            .remote = {.providers = providers.environment(ProviderTestEnvironment::endpointsOn(server))},
            .cli = nullptr};
        return environment;
    }

    // The local model of a session: the model id and this file.
    LiveSummaryLocalModel localModel(std::string id = "qwen2.5-7b-instruct-mlx-4bit") const {
        return {.model = std::move(id), .path = modelFile.string()};
    }

    // True when a new request gets the model slot at once.
    bool slotIsFree() {
        auto reservation = scheduler.reserveSlot(ModelExecutionPriority::whisper);
        if (reservation.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
            return false;
        }
        scheduler.releaseSlot(reservation.get()).wait();
        return true;
    }

    TempDir dir;
    std::filesystem::path modelFile = dir.path() / "model.gguf";
    ScriptedLocalModel model;
    ModelExecutionScheduler scheduler;
    ProviderTestEnvironment providers;
};

} // namespace velnote::testing
