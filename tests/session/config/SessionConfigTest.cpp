#include "session/config/SessionConfig.h"

#include "platform/json/RawValue.h"
#include "support/SessionSamples.h"

#include <gtest/gtest.h>

namespace velnote {
namespace {
using platform::decode;
using platform::Json;
using platform::JsonDecodeError;

using testing::sampleConfig;

// No optional field holds a value.
SessionConfig bareConfig() {
    SessionConfig c;
    c.outputLanguage = "en";
    c.transcription.whisperModel = "small";
    c.summary.provider = "";
    c.audio = {std::nullopt, 1.0, 1.0};
    return c;
}

bool hasKeyAnywhere(const Json& j, const std::string& key) {
    if (j.is_object()) {
        for (const auto& [k, v] : j.items()) {
            if (k == key || hasKeyAnywhere(v, key))
                return true;
        }
    }
    return false;
}

TEST(SessionConfigTest, RoundTripsWithAndWithoutOptionals) {
    for (const SessionConfig& config : {sampleConfig(), bareConfig()}) {
        const Json j = config;
        EXPECT_EQ(decode<SessionConfig>(platform::parseJson(platform::toPrettyJson(j))), config);
    }
}

TEST(SessionConfigTest, AbsentOptionalsLeaveNoKeyAndRequiredEmptiesStay) {
    const Json j = bareConfig();
    for (const char* key :
         {"language", "providerModel", "providerBaseURL", "numberOfSpeakers", "promptKey",
          "intermediatePromptKey", "localModelPath", "cliCommand", "cliArgs", "modelPath", "micDeviceUID"}) {
        EXPECT_FALSE(hasKeyAnywhere(j, key)) << key;
    }
    EXPECT_EQ(j.at("capture").at("ocrRecognitionLanguages"), Json::array());
    EXPECT_EQ(j.at("summary").at("userNote"), "");
    EXPECT_EQ(j.at("transcription").at("provider"), "local");
}

TEST(SessionConfigTest, DecodingRules) {
    struct Case {
        const char* name;
        const char* pointer;     // JSON pointer of the value to change
        Json value;              // discarded() removes the key
        const char* failingPath; // nullptr: must decode
    };
    const Json removed = Json(Json::value_t::discarded);
    const Case cases[] = {
        {"null optional is absent", "/transcription/numberOfSpeakers", nullptr, nullptr},
        {"missing optional is absent", "/transcription/numberOfSpeakers", removed, nullptr},
        {"unknown summary provider is kept", "/summary/provider", "opneai", nullptr},
        {"unknown key is ignored", "/capture/somethingNew", 1, nullptr},
        {"integral gain reads as a number", "/audio/micInputGain", 2, nullptr},
        {"missing system", "/system", removed, "system"},
        {"missing nested list", "/capture/ocrRecognitionLanguages", removed,
         "capture.ocrRecognitionLanguages"},
        {"null required", "/summary/userNote", nullptr, "summary.userNote"},
        {"string for bool", "/transcription/realtimeEnabled", "true", "transcription.realtimeEnabled"},
        {"fraction for integer", "/liveSummary/intervalMinutes", 2.5, "liveSummary.intervalMinutes"},
        {"provider in other case", "/transcription/provider", "OpenAI", "transcription.provider"},
        {"non-string language", "/capture/ocrRecognitionLanguages/1", 7,
         "capture.ocrRecognitionLanguages[1]"},
    };
    for (const Case& c : cases) {
        Json j = sampleConfig();
        const Json::json_pointer pointer(c.pointer);
        if (c.value.is_discarded()) {
            j[pointer.parent_pointer()].erase(pointer.back());
        } else {
            j[pointer] = c.value;
        }
        if (c.failingPath == nullptr) {
            EXPECT_NO_THROW(decode<SessionConfig>(j)) << c.name;
            continue;
        }
        try {
            decode<SessionConfig>(j);
            ADD_FAILURE() << c.name << " decoded";
        } catch (const JsonDecodeError& e) {
            EXPECT_EQ(e.path(), c.failingPath) << c.name;
        }
    }
}

TEST(SessionConfigTest, NullAndMissingSpeakerCountBothMeanAutomatic) {
    Json j = sampleConfig();
    j["transcription"]["numberOfSpeakers"] = nullptr;
    EXPECT_EQ(decode<SessionConfig>(j).transcription.numberOfSpeakers, std::nullopt);
    j["transcription"]["provider"] = "openai";
    EXPECT_EQ(decode<SessionConfig>(j).transcription.provider, TranscriptionProvider::openAI);
}

TEST(SessionConfigTest, EqualityComparesEveryFieldInOrder) {
    const SessionConfig base = sampleConfig();
    SessionConfig reordered = base;
    std::swap(reordered.capture.ocrRecognitionLanguages[0], reordered.capture.ocrRecognitionLanguages[1]);
    EXPECT_NE(reordered, base);
    SessionConfig note = base;
    note.summary.userNote += "!";
    EXPECT_NE(note, base);
    SessionConfig gain = base;
    gain.audio.micInputGain = 1.5000001;
    EXPECT_NE(gain, base);
    SessionConfig emptied = base;
    emptied.summary.cliArgs.reset();
    EXPECT_NE(emptied, base);
    EXPECT_EQ(SessionConfig(base), base);
}

TEST(SessionConfigTest, TranscriptionProviderRawValues) {
    EXPECT_EQ(platform::fromRawValue<TranscriptionProvider>("local"), TranscriptionProvider::localWhisper);
    EXPECT_EQ(platform::fromRawValue<TranscriptionProvider>("openai"), TranscriptionProvider::openAI);
    for (const char* raw : {"OpenAI", " openai", "", "localWhisper"}) {
        EXPECT_EQ(platform::fromRawValue<TranscriptionProvider>(raw), std::nullopt) << raw;
    }
}

} // namespace
} // namespace velnote
