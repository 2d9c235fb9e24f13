#include "engine/speech/transcription/TranscriptionResult.h"

#include "engine/foundation/support/LogLines.h"
#include "engine/speech/transcription/TranscriptionProgress.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace vocalith {
namespace {

using basalith::testing::LogLines;
using Level = basalith::Logging::LogLevel;

WordTiming word(std::string text, float start, float end) {
    return {.word = std::move(text), .tokens = {400, 401}, .start = start, .end = end, .probability = 0.9f};
}

TranscriptionSegment segment(std::int64_t id, std::string text,
                             std::optional<std::vector<WordTiming>> words) {
    return {.id = id,
            .seek = 32000,
            .start = 2.3f,
            .end = 4.1f,
            .text = std::move(text),
            .tokens = {50364, 400, 401, 50414},
            .tokenLogProbs = {{{50364, 0.0f}}, {{400, -0.25f}}, {{401, -1.5f}}, {{50414, -0.1f}}},
            .temperature = 0.2f,
            .avgLogprob = -0.4f,
            .compressionRatio = 1.3f,
            .noSpeechProb = 0.01f,
            .words = std::move(words)};
}

TranscriptionTimings someTimings() {
    TranscriptionTimings timings;
    timings.pipelineStart = 100.5;
    timings.firstTokenTime = 101.25;
    timings.inputAudioSeconds = 30;
    timings.fullPipeline = 6;
    timings.totalDecodingLoops = 42;
    timings.totalDecodingFallbacks = 3;
    return timings;
}

TranscriptionResult sample(std::optional<float> seekTime = std::nullopt) {
    return TranscriptionResult(" Hello there. Good.",
                               {segment(0, " Hello there.", std::vector{word(" Hello", 2.3f, 2.8f)}),
                                segment(1, " Good.", std::nullopt)},
                               "en", someTimings(), seekTime);
}

void expectSameResult(const TranscriptionResult& a, const TranscriptionResult& b) {
    EXPECT_EQ(a.text(), b.text());
    EXPECT_EQ(a.segments(), b.segments());
    EXPECT_EQ(a.language(), b.language());
    EXPECT_EQ(Json(a.timings()), Json(b.timings()));
    EXPECT_EQ(a.seekTime(), b.seekTime());
}

TEST(TranscriptionResultTest, JsonRoundTripKeepsEveryFieldAndFieldOrder) {
    const auto result = sample(12.5f);
    const OrderedJson ordered = result;
    std::vector<std::string> keys;
    for (const auto& [key, value] : ordered.items())
        keys.push_back(key);
    EXPECT_EQ(keys, (std::vector<std::string>{"text", "segments", "language", "timings", "seekTime"}));
    const auto& first = ordered["segments"][0];
    EXPECT_EQ(first.begin().key(), "id");
    EXPECT_EQ(first["tokenLogProbs"][1], OrderedJson::parse(R"({"400": -0.25})"));
    // Floats are written in their shortest form, not widened to 17 digits.
    EXPECT_NE(ordered.dump().find("\"start\":2.3,"), std::string::npos) << ordered.dump();
    EXPECT_FALSE(ordered["segments"][1].contains("words"));
    EXPECT_EQ(ordered["timings"].size(), 34u);

    const Json parsed = Json::parse(ordered.dump());
    expectSameResult(parsed.get<TranscriptionResult>(), result);
    // The application's cache reads lists of results through the platform's strict decoding.
    const auto list = velnote::platform::decode<std::vector<TranscriptionResult>>(Json::array({parsed}));
    ASSERT_EQ(list.size(), 1u);
    expectSameResult(list[0], result);
}

TEST(TranscriptionResultTest, AbsentSeekTimeIsNullForResultAndLeftOutForStruct) {
    const Json written = sample();
    ASSERT_TRUE(written.contains("seekTime"));
    EXPECT_TRUE(written["seekTime"].is_null());
    EXPECT_FALSE(written.get<TranscriptionResult>().seekTime().has_value());

    Json withoutSeek = written;
    withoutSeek.erase("seekTime");
    EXPECT_THROW(withoutSeek.get<TranscriptionResult>(), JsonDecodeError);
    EXPECT_FALSE(withoutSeek.get<TranscriptionResultStruct>().seekTime.has_value());

    TranscriptionResultStruct value{.text = "x", .language = "ja"};
    EXPECT_FALSE(Json(value).contains("seekTime"));
    value.seekTime = 1.5f;
    EXPECT_EQ(Json(value).get<TranscriptionResultStruct>().seekTime, 1.5f);
}

TEST(TranscriptionResultTest, WordsAbsentNullAndEmptyAreTold) {
    Json json = segment(0, "a", std::nullopt);
    EXPECT_FALSE(json.get<TranscriptionSegment>().words.has_value());
    json["words"] = nullptr;
    EXPECT_FALSE(json.get<TranscriptionSegment>().words.has_value());
    json["words"] = Json::array();
    const auto empty = json.get<TranscriptionSegment>();
    ASSERT_TRUE(empty.words.has_value());
    EXPECT_TRUE(empty.words->empty());
    EXPECT_NE(empty, segment(0, "a", std::nullopt));
}

TEST(TranscriptionResultTest, BadSegmentJsonFailsWithThePath) {
    struct Case {
        const char* name;
        const char* pointer;
        Json value;
        const char* path;
    };
    const Case cases[] = {
        {"token id not an integer", "/tokenLogProbs/1", Json::parse(R"({"4x": -0.5})"),
         "tokenLogProbs[1].4x"},
        {"token id fractional", "/tokenLogProbs/1", Json::parse(R"({"1.5": -0.5})"), "tokenLogProbs[1].1.5"},
        {"token id beyond 64 bits", "/tokenLogProbs/0", Json::parse(R"({"99999999999999999999": 0})"),
         "tokenLogProbs[0].99999999999999999999"},
        {"float out of range", "/start", Json(1e300), "start"},
        {"integer as text", "/seek", Json("32000"), "seek"},
        {"id beyond 64 bits", "/id", Json(18446744073709551615ull), "id"},
        {"word without probability", "/words/0/probability", Json(), "words[0].probability"},
    };
    for (const auto& c : cases) {
        Json json = segment(0, "a", std::vector{word(" a", 0, 1)});
        const Json::json_pointer pointer(c.pointer);
        if (c.value.is_null())
            json[pointer.parent_pointer()].erase(pointer.back());
        else
            json[pointer] = c.value;
        try {
            (void)json.get<TranscriptionSegment>();
            ADD_FAILURE() << c.name;
        } catch (const JsonDecodeError& e) {
            EXPECT_EQ(e.path(), c.path) << c.name;
        }
    }
}

TEST(TranscriptionResultTest, OverflowingNumberInTimingsIsRefused) {
    auto text = Json(sample()).dump();
    const auto at = text.find("\"fullPipeline\":6.0");
    ASSERT_NE(at, std::string::npos) << text;
    text.replace(at, 18, "\"fullPipeline\":1e999");
    try {
        (void)Json::parse(text).get<TranscriptionResult>();
        ADD_FAILURE() << "1e999 was read";
    } catch (const JsonDecodeError& e) {
        EXPECT_EQ(e.path(), "timings.fullPipeline");
    } catch (const nlohmann::json::exception&) {
        // The parser itself refused it: also fine, nothing was read.
    }
}

TEST(TranscriptionResultTest, NonFiniteValuesFailTheWriteInsteadOfBecomingNull) {
    auto result = sample();
    result.modifySegments([](auto& segments) { segments[1].avgLogprob = std::nanf(""); });
    try {
        (void)Json(result);
        ADD_FAILURE() << "NaN was written";
    } catch (const JsonEncodeError& e) {
        EXPECT_EQ(e.path(), "avgLogprob");
    }
    auto timings = someTimings();
    timings.fullPipeline = std::numeric_limits<double>::infinity();
    EXPECT_THROW((void)Json(timings), JsonEncodeError);
}

TEST(TranscriptionResultTest, CopiesAreIndependent) {
    const auto original = sample();
    auto copy = original;
    copy.setText("changed");
    copy.setSeekTime(3.0f);
    EXPECT_EQ(original.text(), " Hello there. Good.");
    EXPECT_FALSE(original.seekTime().has_value());
}

TEST(TranscriptionResultTest, AllWordsJoinsSegmentWordsInOrder) {
    auto result = sample();
    result.modifySegments([](auto& segments) {
        segments.push_back(segment(2, " Bye.", std::vector{word(" Bye", 5, 5.5f), word(".", 5.5f, 5.6f)}));
        segments.push_back(segment(3, "", std::vector<WordTiming>{}));
    });
    std::vector<std::string> words;
    for (const auto& w : result.allWords())
        words.push_back(w.word);
    EXPECT_EQ(words, (std::vector<std::string>{" Hello", " Bye", "."}));
    result.setSegments({segment(0, "x", std::nullopt)});
    EXPECT_TRUE(result.allWords().empty());
}

TEST(TranscriptionResultTest, LogSegmentsNumbersByPosition) {
    auto result = sample();
    result.modifySegments([](auto& segments) { segments[0].id = 5; });
    LogLines log(Level::debug);
    result.logSegments();
    EXPECT_EQ(log.lines(), (std::vector<std::string>{"[Segment 0] [2.30 --> 4.10]  Hello there.",
                                                     "[Segment 1] [2.30 --> 4.10]  Good."}));
    LogLines quiet(Level::info);
    result.logSegments();
    EXPECT_TRUE(quiet.lines().empty());
}

TEST(TranscriptionResultTest, TimingReportLines) {
    auto result = sample();
    auto timings = someTimings();
    timings.decodingLoop = 4;
    timings.decodingPredictions = 3;
    timings.totalAudioProcessingRuns = 2;
    result.setTimings(timings);
    LogLines log(Level::info);
    result.logTimings();
    ASSERT_EQ(log.lines().size(), 1u);
    const auto report = log.lines()[0];
    std::vector<std::string> lines;
    std::size_t from = 0;
    for (auto at = report.find('\n'); at != std::string::npos; at = report.find('\n', from)) {
        lines.push_back(report.substr(from, at - from));
        from = at + 1;
    }
    lines.push_back(report.substr(from));
    ASSERT_EQ(lines.size(), 31u);
    EXPECT_EQ(lines[0], "---- Transcription Timings ----");
    EXPECT_EQ(lines[7], "Decoding:             3000.00 ms /     42 runs (   71.43 ms/run) 50.00%");
    EXPECT_EQ(lines[16], "-------------------------------");
    EXPECT_EQ(lines[23], "- Decoding Loop (Avg/window):  2.00 seconds");
    EXPECT_EQ(lines[24], "- Audio Windows:               2.00");
    EXPECT_EQ(lines[25], "Time to first token:           0.75 seconds");
    EXPECT_EQ(lines[26], "Total Tokens:                  8");
    EXPECT_EQ(lines[27], "Tokens per Second:             7.00 tok/s");
    EXPECT_EQ(lines[28], "Real Time Factor:              0.200");
    EXPECT_EQ(lines[29], "Speed Factor:                  5.000");
    EXPECT_EQ(lines[30], "Fallbacks:                     3.0");

    result.setSegments({});
    EXPECT_NE(result.timingReport().find("Total Tokens:                  0\n"), std::string::npos);
}

TEST(TranscriptionTimingsTest, DefaultsAndDerivedValues) {
    const TranscriptionTimings timings;
    EXPECT_EQ(timings.pipelineStart, 1.7976931348623157e308);
    EXPECT_EQ(timings.firstTokenTime, 1.7976931348623157e308);
    EXPECT_EQ(timings.inputAudioSeconds, 0.001);
    for (const auto& [name, member] : TranscriptionTimings::fields()) {
        if (member != &TranscriptionTimings::pipelineStart &&
            member != &TranscriptionTimings::firstTokenTime &&
            member != &TranscriptionTimings::inputAudioSeconds) {
            EXPECT_EQ(timings.*member, 0) << name;
        }
    }
    EXPECT_EQ(timings.realTimeFactor(), 0);
    EXPECT_TRUE(std::isnan(timings.tokensPerSecond()));
    EXPECT_TRUE(std::isinf(timings.speedFactor()));
    // The largest double is a value JSON can hold, so a fresh record writes and reads back.
    EXPECT_EQ(Json(timings).get<TranscriptionTimings>().pipelineStart, timings.pipelineStart);
}

TEST(TranscriptionStateTest, Descriptions) {
    EXPECT_EQ(description(TranscriptionState::convertingAudio), "Converting Audio");
    EXPECT_EQ(description(TranscriptionState::transcribing), "Transcribing");
    EXPECT_EQ(description(TranscriptionState::finished), "Finished");
}

} // namespace
} // namespace vocalith
