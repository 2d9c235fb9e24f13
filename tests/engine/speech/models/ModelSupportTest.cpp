#include "engine/speech/models/ModelSupport.h"

#include "engine/foundation/support/LogLines.h"
#include "engine/speech/Constants.h"

#include <gtest/gtest.h>

namespace vocalith {
namespace {

using basalith::testing::LogLines;
using Level = basalith::Logging::LogLevel;

TEST(ModelSupportTest, BuiltInTableLookupTakesTheLongestPrefix) {
    struct Case {
        const char* identifier;
        const char* expectedDefault;
        const char* expectedChipsRow;
    };
    const Case cases[] = {
        {"Mac15,3", "openai_whisper-large-v3-v20240930", "M2, M3, M4"},
        {"iPad13,16", "openai_whisper-large-v3-v20240930_626MB", "M1"}, // beats row 5's "iPad13,1"
        {"iPad13,1", "openai_whisper-base", "A14"},
        {"iPhone12,3", "openai_whisper-tiny", "A12, A13, S9, S10"},
    };
    const auto& table = Constants::fallbackModelSupportConfig();
    for (const auto& c : cases) {
        const auto support = table.modelSupport(c.identifier);
        EXPECT_EQ(support.defaultModel(), c.expectedDefault) << c.identifier;
        const auto row =
            std::find_if(table.deviceSupports.begin(), table.deviceSupports.end(),
                         [&](const DeviceSupport& d) { return d.chips() == c.expectedChipsRow; });
        ASSERT_NE(row, table.deviceSupports.end());
        EXPECT_EQ(support, row->models) << c.identifier;
    }
}

TEST(ModelSupportTest, UnknownDeviceGetsTheDefaultRowAndAnInfoLine) {
    LogLines log(Level::info);
    const auto support = modelSupport("RealityDevice14,1", std::nullopt);
    EXPECT_EQ(support.defaultModel(), "openai_whisper-base");
    EXPECT_EQ(support.supported().size(), 22u);
    EXPECT_TRUE(support.disabled.empty());
    EXPECT_EQ(log.lines(),
              (std::vector<std::string>{"No device support found for RealityDevice14,1, using default"}));

    LogLines debug(Level::debug);
    (void)modelSupport("Mac14,2", std::nullopt);
    EXPECT_EQ(debug.lines().at(0).rfind("Matched Mac14,2 to devices: [\"Mac14\", \"Mac15\", \"Mac16\", ", 0),
              0u);
}

TEST(ModelSupportTest, BuiltInTableIsCompleted) {
    const auto& table = Constants::fallbackModelSupportConfig();
    EXPECT_EQ(table.repoName(), "vocalith-coreml-fallback");
    EXPECT_EQ(table.knownModels().size(), 22u);
    const std::vector<std::string> firstRow{"openai_whisper-base", "openai_whisper-base.en",
                                            "openai_whisper-tiny", "openai_whisper-tiny.en"};
    EXPECT_EQ(std::vector(Constants::knownModels().begin(), Constants::knownModels().begin() + 4), firstRow);
    EXPECT_EQ(Constants::knownModels(), table.knownModels());
    // Row 1 supports 4 of the 22 known folders; the M2 row supports them all.
    EXPECT_EQ(table.deviceSupports[0].models.disabled.size(), 18u);
    EXPECT_TRUE(table.deviceSupports[3].models.disabled.empty());
    const auto [defaultModel, disabled] = defaultAndDisabledModels("iPhone11,2", std::nullopt);
    EXPECT_EQ(defaultModel, "openai_whisper-tiny");
    EXPECT_EQ(disabled.size(), 18u);
}

Json remoteTable(const std::string& name) {
    return Json::parse(R"({"name": ")" + name + R"(", "version": "1.0", "device_support": [
        {"chips": "M2", "identifiers": ["Mac14"],
         "models": {"default": "new-model", "supported": ["new-model", "openai_whisper-tiny"]}},
        {"identifiers": ["Future1"], "models": {"default": "future", "supported": ["future"]}}]})");
}

TEST(ModelSupportTest, RemoteTableMergesOnlyWithItsOwnRepository) {
    const auto merged = remoteTable("vocalith-coreml").get<ModelSupportConfig>();
    // The two remote rows, then the five built-in rows that share no identifier with them.
    ASSERT_EQ(merged.deviceSupports.size(), 7u);
    const auto& m2 = merged.deviceSupports[0].models;
    EXPECT_EQ(m2.defaultModel(), "new-model");
    EXPECT_EQ(m2.supported().size(), 23u); // the remote two, then row 4's 22 without the repeat
    EXPECT_EQ(m2.supported()[1], "openai_whisper-tiny");
    EXPECT_EQ(merged.deviceSupports[1].models.supported(), std::vector<std::string>{"future"});
    EXPECT_EQ(merged.deviceSupports[2].chips(), "A12, A13, S9, S10");
    EXPECT_EQ(merged.modelSupport("Mac14,7").defaultModel(), "new-model");

    const auto alone = remoteTable("other-repo").get<ModelSupportConfig>();
    ASSERT_EQ(alone.deviceSupports.size(), 2u);
    EXPECT_EQ(alone.knownModels(), (std::vector<std::string>{"new-model", "openai_whisper-tiny", "future"}));
    EXPECT_EQ(alone.deviceSupports[1].models.disabled,
              (std::vector<std::string>{"new-model", "openai_whisper-tiny"}));
}

TEST(ModelSupportTest, JsonFormAndItsErrors) {
    const Json written = Constants::fallbackModelSupportConfig();
    EXPECT_EQ(written["name"], "vocalith-coreml-fallback");
    EXPECT_EQ(written["device_support"][0]["models"].size(), 2u); // no "disabled"
    Json noChips = remoteTable("x")["device_support"][1];
    EXPECT_FALSE(Json(noChips.get<DeviceSupport>()).contains("chips"));

    Json missing = remoteTable("x");
    missing["device_support"][0]["models"].erase("default");
    try {
        (void)missing.get<ModelSupportConfig>();
        ADD_FAILURE();
    } catch (const JsonDecodeError& e) {
        EXPECT_EQ(e.path(), "device_support[0].models.default");
    }
}

} // namespace
} // namespace vocalith
