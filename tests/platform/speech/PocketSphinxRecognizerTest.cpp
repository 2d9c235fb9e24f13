#include "platform/speech/PocketSphinxRecognizer.h"

#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <mutex>

namespace velnote::platform {
namespace {

using namespace std::chrono_literals;

const std::filesystem::path kTestData = "/usr/share/pocketsphinx/test/data";

// 16 kHz mono 16-bit raw samples as floats.
std::vector<float> readRaw(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), {}};
    std::vector<float> samples(bytes.size() / 2);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        std::int16_t value = 0;
        std::memcpy(&value, bytes.data() + 2 * i, 2);
        samples[i] = static_cast<float>(value) / 32768.0f;
    }
    return samples;
}

struct Recorder {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<SpeechRecognitionResult> results;
    std::vector<std::string> errors;
    bool ended = false;

    SpeechAnalysisCallbacks callbacks() {
        return {.onResult =
                    [this](SpeechRecognitionResult result) {
                        std::lock_guard lock(mutex);
                        results.push_back(std::move(result));
                    },
                .onError =
                    [this](SpeechAnalysisFailure, std::string description) {
                        std::lock_guard lock(mutex);
                        errors.push_back(std::move(description));
                    },
                .onEnd =
                    [this] {
                        std::lock_guard lock(mutex);
                        ended = true;
                        changed.notify_all();
                    }};
    }
    bool waitForEnd() {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, 60s, [this] { return ended; });
    }
};

TEST(PocketSphinxRecognizerTest, OnlyTheInstalledEnglishModelHasAFormat) {
    PocketSphinxRecognizer recognizer(PocketSphinxRecognizer::installedModels());
    EXPECT_EQ(recognizer.bestAvailableAudioFormat("en-US"), (AudioFormat{16000, 1}));
    EXPECT_EQ(recognizer.bestAvailableAudioFormat("en_US"), (AudioFormat{16000, 1}));
    EXPECT_EQ(recognizer.bestAvailableAudioFormat("en"), (AudioFormat{16000, 1}));
    EXPECT_EQ(recognizer.bestAvailableAudioFormat("en-GB"), std::nullopt);
    EXPECT_EQ(recognizer.bestAvailableAudioFormat("ja-JP"), std::nullopt);
    EXPECT_EQ(recognizer.bestAvailableAudioFormat(""), std::nullopt);
    EXPECT_TRUE(PocketSphinxRecognizer::installedModels("/nonexistent").empty());
}

TEST(PocketSphinxRecognizerTest, LocaleNames) {
    EXPECT_EQ(canonicalLocaleIdentifier("en_US.UTF-8"), "en-US");
    EXPECT_EQ(canonicalLocaleIdentifier("zh-tw"), "zh-TW");
    EXPECT_EQ(languageDisplayName("ja-JP"), "日本語");
    EXPECT_EQ(languageDisplayName("fr-FR"), "français");
    EXPECT_EQ(languageDisplayName("xx-YY"), "xx-YY");
}

TEST(PocketSphinxRecognizerTest, RecordedSpeechGivesInterimTextsThenTheFinalText) {
    PocketSphinxRecognizer recognizer(PocketSphinxRecognizer::installedModels());
    Recorder recorder;
    auto analysis = recognizer.start("en-US", recorder.callbacks());
    const auto samples = readRaw(kTestData / "goforward.raw");
    ASSERT_FALSE(samples.empty());
    for (std::size_t at = 0; at < samples.size(); at += 1600) {
        analysis->feed({samples.begin() + static_cast<std::ptrdiff_t>(at),
                        samples.begin() + static_cast<std::ptrdiff_t>(std::min(at + 1600, samples.size()))});
    }
    analysis->finish();
    ASSERT_TRUE(recorder.waitForEnd());

    std::lock_guard lock(recorder.mutex);
    EXPECT_TRUE(recorder.errors.empty());
    ASSERT_FALSE(recorder.results.empty());
    EXPECT_FALSE(recorder.results.front().isFinal);
    std::string finals;
    for (const auto& result : recorder.results) {
        if (result.isFinal) {
            finals += result.text + " ";
        }
    }
    EXPECT_NE(finals.find("forward"), std::string::npos) << finals;
    EXPECT_TRUE(recorder.results.back().isFinal);
}

TEST(PocketSphinxRecognizerTest, AMissingModelFailsToStartAndStillEnds) {
    PocketSphinxRecognizer recognizer({{.localeIdentifier = "en-US",
                                        .acousticModel = "/nonexistent/hmm",
                                        .languageModel = "/nonexistent/lm",
                                        .dictionary = "/nonexistent/dict"}});
    Recorder recorder;
    auto analysis = recognizer.start("en-US", recorder.callbacks());
    analysis->feed(std::vector<float>(1600, 0.0f));
    analysis->finish();
    ASSERT_TRUE(recorder.waitForEnd());
    std::lock_guard lock(recorder.mutex);
    EXPECT_EQ(recorder.errors.size(), 1u);
    EXPECT_TRUE(recorder.results.empty());
}

TEST(PocketSphinxRecognizerTest, ACancelledAnalysisReportsNothingMore) {
    PocketSphinxRecognizer recognizer(PocketSphinxRecognizer::installedModels());
    Recorder recorder;
    auto analysis = recognizer.start("en-US", recorder.callbacks());
    analysis->feed(readRaw(kTestData / "goforward.raw"));
    analysis->cancel();
    const auto seen = [&] {
        std::lock_guard lock(recorder.mutex);
        return recorder.results.size();
    }();
    analysis->finish();
    analysis.reset(); // joins the thread
    std::lock_guard lock(recorder.mutex);
    EXPECT_EQ(recorder.results.size(), seen);
    EXPECT_FALSE(recorder.ended);
}

} // namespace
} // namespace velnote::platform
