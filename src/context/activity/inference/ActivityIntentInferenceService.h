#pragma once

#include "providers/ondevice/OnDeviceLanguageModel.h"

#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

namespace velnote {

// The intent (a short verb phrase) and purpose (what the work is) of one activity: asks the
// on-device language model with fixed instructions and reads {"intent", "purpose"} from its
// answer; keyword rules over the same material stand in whenever the model is unavailable, fails
// or answers unusably.
//
// Stateless: any thread may call it, and calls may overlap (each is a fresh conversation). A call
// blocks its caller for the model's answer.
class ActivityIntentInferenceService {
  public:
    struct IntentContext {
        std::string appName{};                   // the activity's last application name, or empty
        std::string bundleID{};                  // its last bundle identifier, or empty
        std::vector<std::string> descriptions{}; // its last eight screen descriptions, in order
        std::vector<std::string> services{};
        std::vector<std::string> screenTypes{}; // "editor", "browser", "chat", ...
    };

    struct IntentResult {
        std::string intent{};
        std::string purpose{};

        bool operator==(const IntentResult&) const = default;
    };

    // `model`: nullptr means no model, so every call takes the keyword rules.
    explicit ActivityIntentInferenceService(std::shared_ptr<OnDeviceLanguageModel> model);
    // The application's: the on-device model of the summary provider.
    static ActivityIntentInferenceService& shared();

    // Always a result on this platform; optional for callers that must cope with none.
    std::optional<IntentResult> infer(const IntentContext& context, std::stop_token stop = {}) const;

    // The prompt and instructions the model gets.
    static std::string prompt(const IntentContext& context);
    static std::string instructions();

    static std::string fallbackIntent(const IntentContext& context);
    static std::string fallbackPurpose(const IntentContext& context);
    // The answer's first {...} without a nested "}", decoded; the fallbacks where it gives nothing.
    static IntentResult parseJSON(const std::string& reply, const IntentContext& context);

  private:
    std::shared_ptr<OnDeviceLanguageModel> model_;
};

} // namespace velnote
