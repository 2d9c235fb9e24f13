#include "platform/concurrency/CancellationError.h"
#include "platform/logging/Logger.h"
#include "providers/ondevice/AppleFoundationModelError.h"
#include "providers/ondevice/AppleFoundationModelService.h"
#include "session/l10n/L10n.h"

#include <functional>
#include <gtest/gtest.h>
#include <unicode/locid.h>

namespace velnote {
namespace {

using namespace std::chrono_literals;
using GenerationKind = OnDeviceGenerationError::Kind;
using ErrorKind = AppleFoundationModelError::Kind;

// An on-device model that follows a script: the n-th call runs the n-th step, which answers or
// throws. Records every call.
class ScriptedModel final : public OnDeviceLanguageModel {
  public:
    struct Call {
        std::string instructions;
        std::string prompt;
    };

    OnDeviceModelAvailability availability() override { return available; }
    bool supportsLocale(const std::string&) override { return localeSupported; }
    std::vector<std::string> supportedLanguages() override { return languages; }
    std::string respond(const std::string& instructions, const std::string& prompt,
                        std::stop_token) override {
        calls.push_back({instructions, prompt});
        if (calls.size() > script.size())
            throw std::logic_error("unscripted call");
        return script[calls.size() - 1]();
    }

    static std::function<std::string()> answer(std::string text) {
        return [text] { return text; };
    }
    static std::function<std::string()> failure(GenerationKind kind) {
        return [kind]() -> std::string { throw OnDeviceGenerationError(kind, "scripted"); };
    }

    OnDeviceModelAvailability available;
    bool localeSupported = true;
    std::vector<std::string> languages;
    std::vector<std::function<std::string()>> script;
    std::vector<Call> calls;
};

class AppleFoundationModelFallbacksTest : public ::testing::Test {
  protected:
    AppleFoundationModelService service() { return AppleFoundationModelService(model, scheduler); }

    AppleFoundationModelError failureOf(const std::function<void()>& call) {
        try {
            call();
        } catch (const AppleFoundationModelError& e) {
            return e;
        }
        ADD_FAILURE() << "no AppleFoundationModelError";
        return AppleFoundationModelError::emptyResponse();
    }

    // True when the slot is free again: a new request gets it at once.
    bool slotIsFree() {
        auto reservation = scheduler.reserveSlot(ModelExecutionPriority::whisper);
        if (reservation.wait_for(2s) != std::future_status::ready)
            return false;
        scheduler.releaseSlot(reservation.get()).wait();
        return true;
    }

    ModelExecutionScheduler scheduler;
    std::shared_ptr<ScriptedModel> model = std::make_shared<ScriptedModel>();
};

TEST_F(AppleFoundationModelFallbacksTest, ReturnsTheTrimmedAnswerOfOneCall) {
    model->script = {ScriptedModel::answer("  word \n")};
    EXPECT_EQ(service().summarize("sys", "user"), "word");
    ASSERT_EQ(model->calls.size(), 1u);
    EXPECT_EQ(model->calls[0].instructions, "sys");
    EXPECT_EQ(model->calls[0].prompt, "user");
    EXPECT_TRUE(slotIsFree());
}

TEST_F(AppleFoundationModelFallbacksTest, ABlankAnswerIsEmptyWithoutARetry) {
    model->script = {ScriptedModel::answer(" \n\u3000")};
    EXPECT_EQ(failureOf([&] { service().summarize("sys", "user"); }).kind(), ErrorKind::emptyResponse);
    EXPECT_EQ(model->calls.size(), 1u);
    EXPECT_TRUE(slotIsFree());
}

TEST_F(AppleFoundationModelFallbacksTest, AGuardrailRetriesWithTheSafePrefix) {
    model->script = {ScriptedModel::failure(GenerationKind::guardrailViolation),
                     ScriptedModel::answer("safe")};
    platform::LogCapture logs;
    EXPECT_EQ(service().summarize("sys", "user"), "safe");
    ASSERT_EQ(model->calls.size(), 2u);
    EXPECT_EQ(model->calls[1].instructions, "sys");
    EXPECT_EQ(model->calls[1].prompt, AppleFoundationModelService::safePrefix() + "\nuser");
    EXPECT_TRUE(model->calls[1].prompt.ends_with("conclusions.\n\nuser") ||
                model->calls[1].prompt.ends_with("ください。\n\nuser"));
    EXPECT_TRUE(logs.contains("safety guardrail triggered, retrying with safe prompt"));
}

TEST_F(AppleFoundationModelFallbacksTest, ThreeRefusalsEndInARefusalAfterTheMinimalPrompt) {
    model->script = {ScriptedModel::failure(GenerationKind::guardrailViolation),
                     ScriptedModel::failure(GenerationKind::refusal),
                     ScriptedModel::failure(GenerationKind::guardrailViolation)};
    const auto error = failureOf([&] { service().summarize("sys", "user"); });
    EXPECT_EQ(error.kind(), ErrorKind::refusal);
    EXPECT_EQ(error.reason(), "");
    EXPECT_EQ(std::string(error.what()), AppleFoundationModelError::refusal().what());
    ASSERT_EQ(model->calls.size(), 3u);
    EXPECT_EQ(model->calls[2].instructions, AppleFoundationModelService::minimalInstructions());
    EXPECT_EQ(model->calls[2].prompt, "user");
    EXPECT_TRUE(slotIsFree());
}

TEST_F(AppleFoundationModelFallbacksTest, OnlyTheFirstCallTurnsAnOverflowIntoContextTooLarge) {
    model->script = {ScriptedModel::failure(GenerationKind::exceededContextWindowSize)};
    EXPECT_EQ(failureOf([&] { service().summarize("sys", "user"); }).kind(), ErrorKind::contextTooLarge);

    model->calls.clear();
    model->script = {ScriptedModel::failure(GenerationKind::refusal),
                     ScriptedModel::failure(GenerationKind::exceededContextWindowSize)};
    try {
        service().summarize("sys", "user");
        FAIL() << "no error";
    } catch (const OnDeviceGenerationError& e) {
        EXPECT_EQ(e.kind(), GenerationKind::exceededContextWindowSize);
    }
    EXPECT_TRUE(slotIsFree());
}

TEST_F(AppleFoundationModelFallbacksTest, AnUnsupportedLanguageNamesTheSupportedOnes) {
    model->languages = {"ja-Jpan-JP", "en-Latn-US"};
    model->localeSupported = false;
    model->script = {ScriptedModel::failure(GenerationKind::unsupportedLanguageOrLocale)};
    platform::LogCapture logs;
    const auto error = failureOf([&] { service().summarize("sys", "user"); });
    const std::string current = icu::Locale::getDefault().getName();
    EXPECT_EQ(error.kind(), ErrorKind::unsupportedLanguage);
    EXPECT_EQ(error.current(), current);
    EXPECT_EQ(error.supported(), "English, Japanese");
    EXPECT_NE(std::string(error.what()).find("(" + current + ")"), std::string::npos);
    EXPECT_NE(std::string(error.what()).find("（対応言語: English, Japanese）"), std::string::npos);
    EXPECT_TRUE(logs.contains("locale " + current + " not in supportedLanguages — proceeding anyway"));
}

TEST_F(AppleFoundationModelFallbacksTest, AnUnavailableModelIsNotCalled) {
    using State = OnDeviceModelAvailability::State;
    model->available = {.state = State::featureNotEnabled, .otherReason = ""};
    const auto error = failureOf([&] { service().summarize("sys", "user"); });
    EXPECT_EQ(error.kind(), ErrorKind::unavailable);
    const std::string reason = L10n::localized("L10n.Transcribe.AppleFoundation.enableAppleIntelligence",
                                               "設定で Apple Intelligence を有効にしてください");
    EXPECT_EQ(error.reason(), reason);
    EXPECT_EQ(error.what(), L10n::localized("L10n.Transcribe.AppleFoundation.unavailableErrorDescription",
                                            "Apple Foundation Models が利用できません: %@", {reason}));
    EXPECT_TRUE(model->calls.empty());
    EXPECT_TRUE(slotIsFree());

    const auto other = AppleFoundationModelService::unavailabilityDescription(
        {.state = State::other, .otherReason = "no file"});
    EXPECT_NE(other.find("no file"), std::string::npos);
    EXPECT_FALSE(AppleFoundationModelService::unavailabilityDescription({}).empty());
}

TEST_F(AppleFoundationModelFallbacksTest, AStopWhileWaitingForTheSlotCallsNoModel) {
    auto held = scheduler.reserveSlot(ModelExecutionPriority::whisper).get();
    std::stop_source stop;
    std::thread stopper([&] {
        std::this_thread::sleep_for(50ms);
        stop.request_stop();
    });
    EXPECT_THROW(service().summarize("sys", "user", false, std::nullopt, {}, stop.get_token()),
                 platform::CancellationError);
    stopper.join();
    EXPECT_TRUE(model->calls.empty());
    scheduler.releaseSlot(held).wait();
}

} // namespace
} // namespace velnote
