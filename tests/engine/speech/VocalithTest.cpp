// The engine's construction, model discovery and download (from a model hub on 127.0.0.1), and its
// model loading, tokenizer set-up and language detection on a crafted variant.

#include "engine/speech/Vocalith.h"

#include "engine/speech/WhisperError.h"
#include "engine/speech/decoding/TextDecoder.h"
#include "engine/speech/models/FeatureExtractor.h"
#include "support/CraftedVariant.h"
#include "support/FakeHub.h"
#include "support/LogLines.h"
#include "support/TempDir.h"
#include "support/TestAudio.h"

#include <gtest/gtest.h>

namespace vocalith {
namespace {

namespace fs = std::filesystem;
using basalith::ModelState;
using basalith::testing::FakeHub;
using basalith::testing::LogLines;

constexpr const char* kRepo = "quorvaneinc/vocalith-coreml";

void publish(FakeHub& hub, const fs::path& folder, const std::string& prefix,
             const std::string& repo = kRepo) {
    for (const auto& [path, content] : testing::filesBelow(folder))
        hub.addFile(repo, prefix + "/" + path, content);
}

std::string messageOf(const std::function<void()>& work) {
    try {
        work();
    } catch (const std::exception& error) {
        return error.what();
    }
    return "(nothing thrown)";
}

class VocalithTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        variant_ = new velnote::testing::TempDir;
        testing::CraftedVariant{}.write(variant_->path());
    }
    static void TearDownTestSuite() {
        delete variant_;
        variant_ = nullptr;
    }

    // Downloads from the hub into this test's cache; nothing loaded unless `load` says so.
    VocalithConfig hubConfig(std::optional<std::string> model,
                             std::optional<bool> load = std::nullopt) const {
        return {.model = std::move(model),
                .downloadBase = cache_.path(),
                .modelEndpoint = hub_.endpoint(),
                .logLevel = basalith::Logging::LogLevel::debug,
                .load = load};
    }
    static VocalithConfig folderConfig(const fs::path& folder, std::optional<bool> load = std::nullopt) {
        return {.modelFolder = folder.string(), .logLevel = basalith::Logging::LogLevel::debug, .load = load};
    }
    fs::path cachedVariant(const std::string& name) const { return cache_ / "models" / kRepo / name; }

    static inline velnote::testing::TempDir* variant_ = nullptr;
    velnote::testing::TempDir cache_;
    FakeHub hub_;
    LogLines log_;
};

TEST_F(VocalithTest, ConstructionDownloadsTheNamedVariantAndLoadsIt) {
    publish(hub_, variant_->path(), "openai_whisper-tiny");
    publish(hub_, variant_->path(), "openai_whisper-tiny.en");
    const auto engine = Vocalith::create(hubConfig("tiny", true));

    EXPECT_EQ(engine->modelFolder(), cachedVariant("openai_whisper-tiny"));
    EXPECT_FALSE(fs::exists(cachedVariant("openai_whisper-tiny.en")));
    EXPECT_EQ(engine->modelState(), ModelState::loaded);
    ASSERT_TRUE(engine->tokenizer());
    EXPECT_EQ(engine->textDecoder()->tokenizer(), engine->tokenizer());
    EXPECT_TRUE(engine->textDecoder()->prefillData());
    EXPECT_TRUE(engine->textDecoder()->isModelMultilingual());
    EXPECT_EQ(engine->featureExtractor()->windowSamples(), 480000);
    // The crafted vocabulary is none of the family's sizes: the variant falls back to base.
    EXPECT_EQ(engine->modelVariant(), ModelVariant::base);
    const auto timings = engine->currentTimings();
    EXPECT_GT(timings.decoderLoadTime, 0);
    EXPECT_GT(timings.encoderLoadTime, 0);
    EXPECT_GT(timings.tokenizerLoadTime, 0);
    EXPECT_GE(timings.modelLoading, timings.decoderLoadTime + timings.encoderLoadTime);
    EXPECT_TRUE(log_.contains("Loading models..."));
}

TEST_F(VocalithTest, WithoutAModelNameTheDevicesDefaultIsFetchedAndNotLoaded) {
    const std::string fallback = Vocalith::recommendedModels().defaultModel();
    publish(hub_, variant_->path(), fallback);
    const auto engine = Vocalith::create(hubConfig(std::nullopt));

    EXPECT_TRUE(log_.contains(std::string("No config files found matching \"config.json\" in ") + kRepo +
                              ", using fallback"));
    EXPECT_EQ(engine->modelFolder(), cachedVariant(fallback));
    // A downloaded folder does not load by itself.
    EXPECT_EQ(engine->modelState(), ModelState::unloaded);
    EXPECT_FALSE(engine->tokenizer());
}

TEST_F(VocalithTest, AGivenFolderIsTakenUncheckedAndLoadsWhenLoadIsAbsent) {
    const auto engine = Vocalith::create(folderConfig(variant_->path()));
    EXPECT_EQ(engine->modelState(), ModelState::loaded);
    EXPECT_EQ(hub_.requestCount(), 0);

    const fs::path missing = cache_ / "nowhere";
    EXPECT_EQ(messageOf([&] { Vocalith::create(folderConfig(missing)); }),
              "Model file not found at " + (missing / "MelSpectrogram.mlmodelc").string());
    EXPECT_EQ(Vocalith::create(folderConfig(missing, false))->modelFolder(), missing);
}

TEST_F(VocalithTest, DownloadTakesTheOneFolderThatAPatternNames) {
    hub_.addFile(kRepo, "distil_whisper-small/MelSpectrogram.mlmodelc/model.gguf", "d");
    hub_.addFile(kRepo, "openai_whisper-small/MelSpectrogram.mlmodelc/model.gguf", "o");
    hub_.addFile(kRepo, "openai_whisper-small/nested/deeper/file", "n");
    hub_.addFile(kRepo, "openai_whisper-large/a", "1");
    hub_.addFile(kRepo, "openai_x_whisper-large/a", "2");

    // Two folders end in "small"; only one of them is openai's, and only its files come.
    const fs::path folder =
        Vocalith::download("small", cache_.path(), false, kRepo, std::nullopt, hub_.endpoint());
    EXPECT_EQ(folder, cachedVariant("openai_whisper-small"));
    EXPECT_TRUE(fs::exists(folder / "nested/deeper/file"));
    EXPECT_FALSE(fs::exists(cachedVariant("distil_whisper-small")));

    const auto failure = [&](const std::string& variant) {
        return messageOf(
            [&] { Vocalith::download(variant, cache_.path(), false, kRepo, std::nullopt, hub_.endpoint()); });
    };
    EXPECT_EQ(failure("medium"), std::string("No models found matching \"*openai*medium/*\" in ") + kRepo);
    EXPECT_EQ(failure("large"),
              std::string("Multiple models found matching \"*openai*large/*\" in ") + kRepo);
    EXPECT_TRUE(log_.contains("Multiple models found matching \"*large/*\""));

    // Set-up names the failure and what caused it.
    EXPECT_EQ(
        messageOf([&] { Vocalith::create(hubConfig("medium")); }),
        std::string("Model not found. Please check the model or repo name and try again.\nError: No models "
                    "found matching \"*openai*medium/*\" in ") +
            kRepo);
    auto config = hubConfig("small");
    config.modelEndpoint = "http://127.0.0.1:1"; // nothing listens there
    EXPECT_TRUE(
        messageOf([&] {
            Vocalith::create(config);
        }).starts_with("Model not found. Please check the model or repo name and try again.\nError: "));
}

TEST_F(VocalithTest, TheRemoteModelSupportConfigurationChoosesTheVariant) {
    const std::string device = Vocalith::deviceName();
    const Json table = {
        {"name", "other/models"},
        {"version", "1"},
        {"device_support",
         {{{"identifiers", {device}},
           {"models",
            {{"default", "openai_whisper-small"},
             {"supported", {"openai_whisper-small", "openai_whisper-tiny", "distil_whisper-large"}}}}}}}};
    hub_.addFile("other/models", "a/config.json", table.dump());
    hub_.addFile("other/models", "config.json", "{not json");

    const auto chosen = Vocalith::fetchModelSupportConfig("other/models", cache_.path(), std::nullopt,
                                                          "*config.json", hub_.endpoint());
    EXPECT_TRUE(
        log_.contains("Multiple config files found (2): [\"a/config.json\", \"config.json\"]. Using first "
                      "matching file: a/config.json"));
    EXPECT_EQ(chosen.modelSupport(device).defaultModel(), "openai_whisper-small");
    EXPECT_EQ(Vocalith::fetchAvailableModels("other/models", {"*tiny", "*small", "*small"}, cache_.path(),
                                             std::nullopt, "*config.json", hub_.endpoint()),
              (std::vector<std::string>{"openai_whisper-tiny", "openai_whisper-small"}));

    // A file that is no table, and a hub that cannot be reached, give the built-in table.
    const auto fallback = Constants::fallbackModelSupportConfig().modelSupport(device);
    EXPECT_EQ(Vocalith::recommendedRemoteModels("other/models", cache_.path(), std::nullopt, "config.json",
                                                hub_.endpoint()),
              fallback);
    const auto lines = log_.lines();
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
        return line.starts_with("Fetch model support config failed with error: ");
    }));
    EXPECT_EQ(Vocalith::recommendedRemoteModels("other/models", cache_.path(), std::nullopt, "config.json",
                                                "http://127.0.0.1:1"),
              fallback);
}

TEST_F(VocalithTest, LoadingFailsBeforeAnyModelWhenOneIsMissing) {
    const auto engine = Vocalith::create(VocalithConfig{.download = false});
    EXPECT_EQ(engine->modelFolder(), std::nullopt);
    EXPECT_EQ(messageOf([&] { engine->loadModels(); }), "Model folder is not set.");
    EXPECT_EQ(engine->modelState(), ModelState::loading);

    const velnote::testing::TempDir partial;
    fs::copy(variant_->path() / "MelSpectrogram.mlmodelc", partial / "MelSpectrogram.mlmodelc");
    fs::copy(variant_->path() / "TextDecoder.mlmodelc", partial / "TextDecoder.mlmodelc");
    engine->setModelFolder(partial.path());
    EXPECT_EQ(messageOf([&] { engine->prewarmModels(); }),
              "Model file not found at " + (partial / "AudioEncoder.mlmodelc").string());
    EXPECT_EQ(engine->modelState(), ModelState::prewarming);
    EXPECT_EQ(dynamic_cast<FeatureExtractor&>(*engine->featureExtractor()).modelState(),
              ModelState::unloaded);
}

TEST_F(VocalithTest, PrewarmThenLoadThenUnloadMovesThroughTheStates) {
    const auto engine = Vocalith::create(folderConfig(variant_->path(), false));
    std::vector<std::pair<std::optional<ModelState>, ModelState>> changes;
    engine->setModelStateCallback([&](std::optional<ModelState> previous, ModelState current) {
        changes.emplace_back(previous, current);
    });

    engine->prewarmModels();
    EXPECT_FALSE(engine->tokenizer());
    EXPECT_FALSE(engine->featureExtractor()->windowSamples()); // prewarmed, not kept
    const double prewarm = engine->currentTimings().prewarmLoadTime;
    EXPECT_GT(prewarm, 0);
    EXPECT_GT(engine->currentTimings().decoderSpecializationTime, 0);

    engine->loadModels();
    const auto tokenizer = engine->tokenizer();
    ASSERT_TRUE(tokenizer);
    EXPECT_GE(engine->currentTimings().modelLoading, prewarm);

    engine->loadModels(); // again: every model reloads, the tokenizer stays
    EXPECT_TRUE(log_.contains("Tokenizer already exists on Vocalith, skipping load"));
    EXPECT_EQ(engine->tokenizer(), tokenizer);

    engine->unloadModels();
    EXPECT_TRUE(log_.contains("Unloaded all models"));
    EXPECT_EQ(engine->tokenizer(), tokenizer);
    EXPECT_FALSE(engine->textDecoder()->logitsSize());

    using S = ModelState;
    EXPECT_EQ(changes, (std::vector<std::pair<std::optional<S>, S>>{{S::unloaded, S::prewarming},
                                                                    {S::prewarming, S::prewarmed},
                                                                    {S::prewarmed, S::loading},
                                                                    {S::loading, S::loaded},
                                                                    {S::loaded, S::loading},
                                                                    {S::loading, S::loaded},
                                                                    {S::loaded, S::unloading},
                                                                    {S::unloading, S::unloaded}}));

    // The decoder always holds the engine's tokenizer, absence included.
    engine->setTokenizer(nullptr);
    EXPECT_FALSE(engine->textDecoder()->tokenizer());
}

TEST_F(VocalithTest, DetectsTheLanguageOfTheFirstWindowLoadingTheModelsFirst) {
    const auto engine = Vocalith::create(folderConfig(variant_->path(), false));
    const auto detected = engine->detectLangauge(testing::TestAudio::tone(2, 16000));
    EXPECT_EQ(engine->modelState(), ModelState::loaded);
    EXPECT_EQ(detected.language, "ja");
    EXPECT_EQ(detected.langProbs.size(), 1u);

    const fs::path wav = cache_ / "speech.wav";
    testing::TestAudio::writeTone(wav, 44100, 2, 2);
    EXPECT_EQ(engine->detectLanguage(wav.string()).language, "ja");
    EXPECT_EQ(messageOf([&] { engine->detectLanguage((cache_ / "absent.wav").string()); }),
              "Resource path does not exist " + (cache_ / "absent.wav").string());
    EXPECT_EQ(messageOf([&] { engine->detectLangauge({}); }), "Audio samples are nil");

    engine->textDecoder()->setIsModelMultilingual(false);
    EXPECT_EQ(messageOf([&] { engine->detectLangauge(testing::TestAudio::tone(1, 16000)); }),
              "Language detection not supported for this model");
}

TEST_F(VocalithTest, TheLoggingCallbackTakesEveryLine) {
    const auto engine =
        Vocalith::create(VocalithConfig{.logLevel = basalith::Logging::LogLevel::debug, .download = false});
    std::vector<std::string> lines;
    engine->loggingCallback([&](const std::string& line) { lines.push_back(line); });
    engine->unloadModels();
    engine->loggingCallback({});
    EXPECT_EQ(lines, std::vector<std::string>{"Unloaded all models"});

    // Not verbose: the engine silences the shared logger.
    Vocalith::create(VocalithConfig{.verbose = false, .download = false});
    EXPECT_EQ(basalith::Logging::shared().logLevel(), basalith::Logging::LogLevel::none);
}

} // namespace
} // namespace vocalith
