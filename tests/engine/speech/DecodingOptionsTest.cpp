#include "engine/speech/DecodingOptions.h"

#include <gtest/gtest.h>

namespace vocalith {
namespace {

using Arguments = DecodingOptions::Arguments;

TEST(DecodingOptionsTest, ConstructorSubstitutions) {
    const DecodingOptions defaults;
    EXPECT_FALSE(defaults.detectLanguage);
    EXPECT_TRUE(defaults.supressTokens.empty());
    EXPECT_EQ(defaults.concurrentWorkerCount, 16);
    EXPECT_EQ(defaults.sampleLength, 224);

    EXPECT_TRUE(DecodingOptions(Arguments{.usePrefillPrompt = false}).detectLanguage);
    EXPECT_FALSE(
        DecodingOptions(Arguments{.usePrefillPrompt = false, .detectLanguage = false}).detectLanguage);
    EXPECT_TRUE(DecodingOptions(Arguments{.detectLanguage = true}).detectLanguage);
    EXPECT_EQ(DecodingOptions(Arguments{.concurrentWorkerCount = 0}).concurrentWorkerCount, 0);
    EXPECT_EQ(DecodingOptions(Arguments{.supressTokens = std::vector<std::int64_t>{7}}).supressTokens,
              std::vector<std::int64_t>{7});
}

TEST(DecodingOptionsTest, DefaultRecordJson) {
    const Json json = DecodingOptions();
    EXPECT_EQ(json["compressionRatioThreshold"].get<double>(), 2.4);
    EXPECT_EQ(json["logProbThreshold"].get<double>(), -1);
    EXPECT_EQ(json["firstTokenLogProbThreshold"].get<double>(), -1.5);
    EXPECT_EQ(json["noSpeechThreshold"].get<double>(), 0.6);
    EXPECT_EQ(json["task"], Json::parse(R"({"transcribe":{}})"));
    EXPECT_EQ(json["supressTokens"], Json::array());
    for (const char* absent : {"language", "maxInitialTimestamp", "maxWindowSeek", "promptTokens",
                               "prefixTokens", "chunkingStrategy"})
        EXPECT_FALSE(json.contains(absent)) << absent;
    EXPECT_EQ(json.size(), 22u);
}

TEST(DecodingOptionsTest, JsonRoundTripOfEveryField) {
    const DecodingOptions options(Arguments{.verbose = true,
                                            .task = DecodingTask::translate,
                                            .language = "ja",
                                            .temperature = 0.1f,
                                            .temperatureFallbackCount = 3,
                                            .maxInitialTimestamp = 1.5f,
                                            .maxWindowSeek = 96000,
                                            .clipTimestamps = {1.25f, 3.5f},
                                            .promptTokens = std::vector<std::int64_t>{50361, 400},
                                            .prefixTokens = std::vector<std::int64_t>{},
                                            .supressTokens = std::vector<std::int64_t>{220, 50257},
                                            .logProbThreshold = std::nullopt,
                                            .chunkingStrategy = ChunkingStrategy::vad});
    const OrderedJson ordered = options;
    EXPECT_EQ(ordered.begin().key(), "verbose");
    EXPECT_EQ(ordered["task"], OrderedJson::parse(R"({"translate":{}})"));
    EXPECT_EQ(ordered["chunkingStrategy"], "vad");
    EXPECT_FALSE(ordered.contains("logProbThreshold"));

    const auto read = Json::parse(ordered.dump()).get<DecodingOptions>();
    EXPECT_EQ(Json(read), Json(options));
    EXPECT_FALSE(read.logProbThreshold.has_value());
    EXPECT_EQ(read.prefixTokens, std::vector<std::int64_t>{});
}

TEST(DecodingOptionsTest, ReadingRequiresEveryNonOptionalKey) {
    for (const char* key :
         {"concurrentWorkerCount", "detectLanguage", "supressTokens", "verbose", "clipTimestamps"}) {
        Json json = DecodingOptions();
        json.erase(key);
        try {
            (void)json.get<DecodingOptions>();
            ADD_FAILURE() << key;
        } catch (const JsonDecodeError& e) {
            EXPECT_EQ(e.path(), key);
        }
    }
    // The spelling with two "p" is not the stored key.
    Json misspelt = DecodingOptions();
    misspelt["suppressTokens"] = misspelt["supressTokens"];
    misspelt.erase("supressTokens");
    EXPECT_THROW((void)misspelt.get<DecodingOptions>(), JsonDecodeError);

    Json overflow = DecodingOptions();
    overflow["topK"] = 4294967296LL;
    EXPECT_THROW((void)overflow.get<DecodingOptions>(), JsonDecodeError);
    overflow = DecodingOptions();
    overflow["temperature"] = 1e39;
    EXPECT_THROW((void)overflow.get<DecodingOptions>(), JsonDecodeError);
}

TEST(DecodingOptionsTest, TaskAndChunkingStrategyForms) {
    const std::pair<const char*, const char*> badTasks[] = {
        {R"({"transcribe":{},"translate":{}})", "Invalid number of keys found, expected one."},
        {R"({})", "Invalid number of keys found, expected one."},
        {R"({"summarise":{}})", "Invalid number of keys found, expected one."},
    };
    for (const auto& [text, problem] : badTasks) {
        try {
            (void)Json::parse(text).get<DecodingTask>();
            ADD_FAILURE() << text;
        } catch (const JsonDecodeError& e) {
            EXPECT_EQ(e.problem(), problem) << text;
        }
    }
    EXPECT_EQ(Json::parse(R"({"translate":{},"other":1})").get<DecodingTask>(), DecodingTask::translate);
    EXPECT_THROW((void)Json::parse(R"({"translate":true})").get<DecodingTask>(), JsonDecodeError);

    EXPECT_EQ(chunkingStrategyFromRawValue("none"), ChunkingStrategy::none);
    EXPECT_FALSE(chunkingStrategyFromRawValue("VAD").has_value());
    EXPECT_THROW((void)Json("silence").get<ChunkingStrategy>(), JsonDecodeError);
    EXPECT_EQ(description(DecodingTask::translate), "translate");
}

TEST(DecodingOptionsTest, SeekClips) {
    using Clips = std::vector<std::pair<std::int64_t, std::int64_t>>;
    const auto clips = [](std::vector<float> timestamps, std::int64_t frames) {
        return DecodingOptions(Arguments{.clipTimestamps = std::move(timestamps)}).prepareSeekClips(frames);
    };
    EXPECT_EQ(clips({}, 1000), (Clips{{0, 1000}}));
    EXPECT_EQ(clips({5.0f}, 900000), (Clips{{80000, 900000}}));
    EXPECT_EQ(clips({1.0f, 2.0f, 3.0f}, 900000), (Clips{{16000, 32000}, {48000, 900000}}));
    EXPECT_EQ(clips({0.0001f, -0.0001f}, 10), (Clips{{2, -2}})); // 1.6 samples: to the nearest
    // Times that have no sample position do not wrap into a bogus one.
    EXPECT_EQ(clips({1e30f, std::numeric_limits<float>::quiet_NaN()}, 10), (Clips{{INT64_MAX, 0}}));
}

} // namespace
} // namespace vocalith
