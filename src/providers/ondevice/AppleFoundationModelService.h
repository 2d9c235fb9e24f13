#pragma once

#include "processing/modelslot/ModelExecutionScheduler.h"
#include "providers/ondevice/OnDeviceLanguageModel.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>

namespace velnote {

// One text generation on the on-device model (the "apple_local" summary provider, and the screen
// inference): checks that the model can run, runs it under the single on-device model slot
// (priority appleLocal), and when the model's safety rules refuse the content tries a safer
// prompt and then a minimal meeting-summary prompt. A prompt that does not fit the model fails
// with contextTooLarge, so the caller can summarise in chunks instead.
//
// Holds no state of its own; calls from any thread, each blocking its caller. Calls wait for one
// another at the slot, which also keeps them apart from every other on-device model run.
class AppleFoundationModelService {
  public:
    AppleFoundationModelService(std::shared_ptr<OnDeviceLanguageModel> model,
                                ModelExecutionScheduler& scheduler = ModelExecutionScheduler::shared());

    // The application's: the llama.cpp model at LlamaOnDeviceModel::defaultModelPath().
    static AppleFoundationModelService& shared();

    // The model's answer, trimmed, never empty. Only the two prompts are used: the preference,
    // the session folder and the fallback recorder are accepted for the callers' sake. Fails with
    // AppleFoundationModelError, the scheduler's errors (a refused request, a stop while waiting)
    // and the model's other failures unchanged.
    std::string summarize(const std::string& systemPrompt, const std::string& userPrompt,
                          bool preferDirectSummary = false,
                          const std::optional<std::filesystem::path>& sessionDir = std::nullopt,
                          const std::function<void(const std::string&)>& fallbackRecorder = {},
                          std::stop_token stop = {}) const;

    // One model call in a fresh conversation: the answer trimmed, emptyResponse when nothing is left.
    std::string generateSingleCore(const std::string& systemPrompt, const std::string& userPrompt,
                                   std::stop_token stop = {}) const;
    // The first fallback: the safe prefix before the user prompt; then the minimal prompt.
    std::string generateSingleSafe(const std::string& systemPrompt, const std::string& userPrompt,
                                   std::stop_token stop = {}) const;
    // The second fallback: the minimal instructions in place of the caller's system prompt.
    std::string generateSingleMinimal(const std::string& userPrompt, std::stop_token stop = {}) const;

    // The reason text of an unavailable model.
    static std::string unavailabilityDescription(const OnDeviceModelAvailability& availability);

    // The model the service runs, for callers that talk to it without the slot and the fallbacks.
    const std::shared_ptr<OnDeviceLanguageModel>& model() const { return model_; }

    // The fallback texts in the interface language.
    static std::string safePrefix();
    static std::string minimalInstructions();

  private:
    std::shared_ptr<OnDeviceLanguageModel> model_;
    ModelExecutionScheduler& scheduler_;
};

} // namespace velnote
