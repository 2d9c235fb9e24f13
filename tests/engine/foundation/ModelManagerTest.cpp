#include "engine/foundation/ModelManager.h"

#include "engine/foundation/BasalithError.h"
#include "engine/foundation/HubError.h"
#include "support/CacheFiles.h"
#include "support/LogLines.h"

#include <atomic>
#include <condition_variable>
#include <gtest/gtest.h>
#include <thread>

namespace basalith {
namespace {

using testing::LogLines;
using S = ModelState;

// A loader whose steps can be held open and made to fail.
class FakeLoader : public ModelLoader {
  public:
    std::optional<std::string> folder;
    bool failResolve = false;
    bool resolveUntilStopped = false; // resolveModels waits for its stop token, then throws
    bool failLoad = false;
    std::atomic<int> resolveCalls{0};
    std::atomic<int> loadCalls{0};
    std::vector<bool> prewarmArgs;

    std::optional<std::string> modelFolder() const override { return folder; }
    std::string resolveModels(ModelDownloader&, const ProgressCallback&,
                              const std::stop_token& stop) override {
        {
            std::lock_guard lock(mutex_);
            resolveStop_ = stop;
        }
        ++resolveCalls;
        if (resolveUntilStopped) {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, stop, [] { return false; });
            throw HubError(HubError::Kind::cancelled, "download stopped");
        }
        waitForRelease();
        if (failResolve)
            throw std::runtime_error("hub unreachable");
        return "/models/resolved";
    }
    void load(const std::string&, bool prewarm) override {
        ++loadCalls;
        prewarmArgs.push_back(prewarm);
        waitForRelease();
        if (failLoad)
            throw std::runtime_error("bad weights");
    }
    void unload() noexcept override {}

    // Makes the next steps wait inside the loader until release().
    void hold() {
        std::lock_guard lock(mutex_);
        held_ = true;
    }
    void release() {
        {
            std::lock_guard lock(mutex_);
            held_ = false;
        }
        changed_.notify_all();
    }
    std::stop_token resolveStop() {
        std::lock_guard lock(mutex_);
        return resolveStop_;
    }
    void waitUntilEntered(int resolveCount) {
        while (resolveCalls.load() < resolveCount)
            std::this_thread::yield();
    }

  private:
    void waitForRelease() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return !held_; });
    }
    std::mutex mutex_;
    std::condition_variable_any changed_;
    bool held_ = false;
    std::stop_token resolveStop_;
};

class TestDiarizer : public ModelManager {
  public:
    using ModelManager::loadCoordinator;
    using ModelManager::ModelManager;
};

class ModelManagerTest : public ::testing::Test {
  protected:
    ModelManagerTest()
        : loader(std::make_shared<FakeLoader>()),
          manager(loader, std::make_shared<ModelDownloader>(ModelDownloadConfig{.modelRepo = "o/r"})) {
        manager.setModelStateCallback([this](S previous, S current) {
            std::lock_guard lock(mutex);
            transitions.emplace_back(previous, current);
        });
    }
    std::vector<std::pair<S, S>> seen() {
        std::lock_guard lock(mutex);
        return transitions;
    }
    std::string errorOf(const std::function<void()>& step) {
        try {
            step();
        } catch (const std::exception& e) {
            return e.what();
        }
        return "";
    }

    std::shared_ptr<FakeLoader> loader;
    TestDiarizer manager;
    std::mutex mutex;
    std::vector<std::pair<S, S>> transitions;
};

TEST_F(ModelManagerTest, FirstLoadDownloadsThenLoads) {
    LogLines log;
    manager.loadModels();
    EXPECT_EQ(seen(), (std::vector<std::pair<S, S>>{{S::unloaded, S::downloading},
                                                    {S::downloading, S::downloaded},
                                                    {S::downloaded, S::loading},
                                                    {S::loading, S::loaded}}));
    EXPECT_EQ(manager.modelPath(), std::filesystem::path("/models/resolved"));
    EXPECT_EQ(loader->prewarmArgs, std::vector<bool>{false});
    EXPECT_TRUE(log.contains("[TestDiarizer] Models downloaded to /models/resolved"));
    EXPECT_TRUE(log.contains("[TestDiarizer] Models loaded successfully"));

    manager.loadModels();
    manager.downloadModels();
    EXPECT_EQ(seen().size(), 4u);
    EXPECT_TRUE(log.contains("[TestDiarizer] Models already loaded, skipping"));
    EXPECT_TRUE(log.contains("[TestDiarizer] Models already downloaded (state: Loaded), skipping download"));
    EXPECT_EQ(errorOf([&] { manager.prewarmModels(); }), "Cannot prewarm in state: Loaded");

    manager.unloadModels();
    EXPECT_EQ(manager.modelState(), S::unloaded);
    EXPECT_EQ(seen().back(), (std::pair{S::unloading, S::unloaded}));
    EXPECT_EQ(manager.modelPath(), std::filesystem::path("/models/resolved"));
}

TEST_F(ModelManagerTest, ModelFolderSkipsTheDownload) {
    loader->folder = "/local/models";
    manager.prewarmModels();
    manager.loadModels();
    EXPECT_EQ(loader->resolveCalls, 0);
    EXPECT_EQ(manager.modelPath(), std::filesystem::path("/local/models"));
    EXPECT_EQ(manager.modelFolder(), std::filesystem::path("/local/models"));
    EXPECT_EQ(loader->prewarmArgs, (std::vector<bool>{true, false}));
    EXPECT_EQ(seen(), (std::vector<std::pair<S, S>>{{S::unloaded, S::downloaded},
                                                    {S::downloaded, S::prewarming},
                                                    {S::prewarming, S::prewarmed},
                                                    {S::prewarmed, S::loading},
                                                    {S::loading, S::loaded}}));
}

TEST_F(ModelManagerTest, FailuresReturnToUnloadedAndPassOn) {
    LogLines log;
    loader->failResolve = true;
    EXPECT_EQ(errorOf([&] { manager.downloadModels(); }), "hub unreachable");
    EXPECT_EQ(seen(),
              (std::vector<std::pair<S, S>>{{S::unloaded, S::downloading}, {S::downloading, S::unloaded}}));
    EXPECT_TRUE(log.contains("[TestDiarizer] Failed to download models: hub unreachable"));

    loader->failResolve = false;
    loader->failLoad = true;
    EXPECT_EQ(errorOf([&] { manager.loadModels(); }), "bad weights");
    EXPECT_EQ(manager.modelState(), S::unloaded);
    EXPECT_TRUE(log.contains("[TestDiarizer] Failed to load models: bad weights"));
}

TEST_F(ModelManagerTest, StateErrorsChangeNothing) {
    manager.setModelState(S::prewarming);
    EXPECT_EQ(errorOf([&] { manager.prewarmModels(); }),
              "No model path available. Call downloadModels() first, or provide modelFolder.");
    loader->folder = "/local";
    EXPECT_EQ(errorOf([&] { manager.prewarmModels(); }), "Cannot prewarm in state: Specializing");
    manager.setModelState(S::loading);
    const auto reported = seen().size();
    EXPECT_EQ(errorOf([&] { manager.loadModels(); }), "Cannot load in state: Loading");
    EXPECT_EQ(manager.modelState(), S::loading);
    EXPECT_EQ(seen().size(), reported);

    for (S state : {S::downloaded, S::unloaded, S::loading}) {
        manager.setModelState(state);
        const auto before = seen().size();
        manager.unloadModels();
        EXPECT_EQ(manager.modelState(), state);
        EXPECT_EQ(seen().size(), before);
    }
}

TEST_F(ModelManagerTest, AvailabilityFollowsTheState) {
    const std::pair<S, bool> cases[] = {{S::downloaded, true}, {S::loading, true},     {S::loaded, true},
                                        {S::prewarmed, false}, {S::prewarming, false}, {S::unloaded, false},
                                        {S::unloading, false}, {S::downloading, false}};
    for (auto [state, available] : cases) {
        manager.setModelState(state);
        EXPECT_EQ(manager.isAvailable(), available) << description(state);
        EXPECT_EQ(manager.isLoaded(), state == S::loaded);
    }
}

TEST_F(ModelManagerTest, OverlappingLoadSeesTheWorkingState) {
    loader->folder = "/local";
    manager.downloadModels();
    loader->hold();
    std::thread first([&] { manager.loadModels(); });
    while (manager.modelState() != S::loading)
        std::this_thread::yield();
    EXPECT_EQ(errorOf([&] { manager.loadModels(); }), "Cannot load in state: Loading");
    loader->release();
    first.join();
    EXPECT_EQ(loader->loadCalls, 1);
}

// Ten callers at once share one download-and-load and its outcome.
TEST_F(ModelManagerTest, ConcurrentEnsureMakesOneAttempt) {
    for (bool fail : {true, false}) {
        loader->failLoad = fail;
        loader->resolveCalls = 0;
        loader->loadCalls = 0;
        loader->hold();
        std::vector<std::string> outcomes(10);
        std::vector<std::thread> callers;
        for (std::size_t i = 0; i < outcomes.size(); ++i) {
            callers.emplace_back([&, i] { outcomes[i] = errorOf([&] { manager.ensureModelsLoaded(); }); });
        }
        loader->waitUntilEntered(1);
        while (manager.loadCoordinator().joinedCallers() < 9)
            std::this_thread::yield();
        loader->release();
        for (auto& caller : callers)
            caller.join();

        EXPECT_EQ(loader->resolveCalls, 1);
        EXPECT_EQ(loader->loadCalls, 1);
        EXPECT_EQ(outcomes, std::vector<std::string>(10, fail ? "bad weights" : ""));
        EXPECT_EQ(manager.modelState(), fail ? S::unloaded : S::loaded);
    }
    manager.ensureModelsLoaded(); // loaded: returns at once
    EXPECT_EQ(loader->loadCalls, 1);
}

// A caller that stops leaves at once; the shared download stops only when every caller has.
TEST_F(ModelManagerTest, StoppedCallersLeaveAndTheLastOneStopsTheDownload) {
    loader->resolveUntilStopped = true;
    for (bool starterStopsFirst : {false, true}) {
        std::stop_source stops[2]; // the caller that starts the attempt, the one that joins it
        std::optional<HubError::Kind> outcomes[2];
        auto ensure = [&](int caller) {
            outcomes[caller] =
                testing::hubFailure([&] { manager.ensureModelsLoaded(stops[caller].get_token()); });
        };
        const int attempts = loader->resolveCalls;
        std::thread starter(ensure, 0);
        loader->waitUntilEntered(attempts + 1);
        std::thread joiner(ensure, 1);
        while (manager.loadCoordinator().joinedCallers() < 1)
            std::this_thread::yield();

        const int firstToStop = starterStopsFirst ? 0 : 1;
        stops[firstToStop].request_stop();
        if (!starterStopsFirst)
            joiner.join(); // leaves at once
        EXPECT_FALSE(loader->resolveStop().stop_requested()) << "the other caller still wants the models";
        stops[1 - firstToStop].request_stop();
        starter.join();
        if (starterStopsFirst)
            joiner.join();
        EXPECT_EQ(outcomes[0], HubError::Kind::cancelled);
        EXPECT_EQ(outcomes[1], HubError::Kind::cancelled);
        EXPECT_EQ(manager.modelState(), S::unloaded);
    }

    loader->resolveUntilStopped = false;
    std::stop_source unused;
    manager.loadModels(unused.get_token());
    EXPECT_EQ(manager.modelState(), S::loaded);
    EXPECT_TRUE(loader->resolveStop().stop_possible()) << "a direct step hands its token to the loader";
}

} // namespace
} // namespace basalith
