#pragma once

#include "providers/ondevice/OnDeviceLanguageModel.h"

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

struct llama_model;

namespace velnote {

// The on-device model of this platform: a GGUF language model run with llama.cpp on the CPU, with
// a model handle of its own (loaded on first use and kept). A missing file reads as "model not
// ready", a file that does not load as unavailable for that reason, and a prompt longer than the
// model's trained context as exceededContextWindowSize. It knows no safety rules and no language
// limits: every locale is supported and no guardrail ever trips.
//
// Thread-safe: answers are generated one at a time, each in a fresh context (nothing carries over).
class LlamaOnDeviceModel : public OnDeviceLanguageModel {
  public:
    struct Options {
        std::filesystem::path modelPath = defaultModelPath();
        int maxResponseTokens = 1024; // the longest answer, in tokens
        int threads = 4;              // CPU threads of one generation
    };

    explicit LlamaOnDeviceModel(Options options);
    ~LlamaOnDeviceModel() override;

    // "on-device.gguf" in the "Models" folder of the application's data folder. Throws
    // platform::NoHomeFolderError when there is none.
    static std::filesystem::path defaultModelPath();

    OnDeviceModelAvailability availability() override;
    bool supportsLocale(const std::string& identifier) override;
    std::vector<std::string> supportedLanguages() override;
    // Greedy decoding of the model's chat template (ChatML when the file has none); always UTF-8
    // text (a character cut by the token limit is dropped, stray bytes become U+FFFD).
    std::string respond(const std::string& instructions, const std::string& prompt,
                        std::stop_token stop) override;

  private:
    struct ModelDeleter {
        void operator()(llama_model* model) const;
    };

    // Under mutex_: the loaded model, loading it when needed; nullptr with `failure` set otherwise.
    llama_model* loadedModel(std::string& failure);

    const Options options_;
    std::mutex mutex_;
    // Under mutex_:
    std::unique_ptr<llama_model, ModelDeleter> model_;
};

} // namespace velnote
