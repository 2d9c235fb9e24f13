#pragma once

#include <stdexcept>
#include <stop_token>
#include <string>
#include <vector>

namespace velnote {

// Whether the on-device model can run now, and why not.
struct OnDeviceModelAvailability {
    enum class State { available, deviceNotEligible, featureNotEnabled, modelNotReady, other };

    State state = State::available;
    std::string otherReason; // the reason's own words, for State::other

    bool isAvailable() const { return state == State::available; }
};

// The failures of one answer that the on-device model service tells apart; any other failure of a
// model is an exception of another type, passed on unchanged.
class OnDeviceGenerationError : public std::runtime_error {
  public:
    enum class Kind {
        exceededContextWindowSize,   // the prompt does not fit the model's context
        guardrailViolation,          // the model's safety rules stopped it
        unsupportedLanguageOrLocale, // the model does not handle the text's language
        refusal,                     // the model declined to answer
    };

    OnDeviceGenerationError(Kind kind, const std::string& detail);

    Kind kind() const { return kind_; }

  private:
    Kind kind_;
};

// The operating system's kind of on-device language model, as the service uses it. An
// implementation is safe to call from any thread; the service calls it from one at a time.
class OnDeviceLanguageModel {
  public:
    virtual ~OnDeviceLanguageModel() = default;

    virtual OnDeviceModelAvailability availability() = 0;
    // Whether the model handles text of the locale `identifier` ("en_US", "ja").
    virtual bool supportsLocale(const std::string& identifier) = 0;
    // The languages the model handles, as maximal identifiers ("en-Latn-US").
    virtual std::vector<std::string> supportedLanguages() = 0;
    // One answer to `prompt` in a fresh conversation with `instructions` as its system prompt.
    // Throws OnDeviceGenerationError, platform::CancellationError on a stop, or the model's own.
    virtual std::string respond(const std::string& instructions, const std::string& prompt,
                                std::stop_token stop) = 0;
};

} // namespace velnote
