#pragma once

#include "context/activity/inference/DescriptionEmbeddingService.h"
#include "platform/concurrency/Executor.h"
#include "providers/ondevice/OnDeviceLanguageModel.h"

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace velnote::testing {

// Keeps each job until the test runs it.
class HeldExecutor final : public platform::Executor {
  public:
    void post(platform::Job job) override {
        std::lock_guard lock(mutex_);
        jobs_.push_back(std::move(job));
    }
    // Runs the jobs held so far, in order; how many ran.
    std::size_t runHeld() {
        std::vector<platform::Job> jobs;
        {
            std::lock_guard lock(mutex_);
            jobs.swap(jobs_);
        }
        for (auto& job : jobs) {
            job();
        }
        return jobs.size();
    }

  private:
    std::mutex mutex_;
    std::vector<platform::Job> jobs_;
};

// An on-device model whose answers the test scripts; records every prompt.
class ScriptedModel final : public OnDeviceLanguageModel {
  public:
    OnDeviceModelAvailability availability() override {
        OnDeviceModelAvailability result;
        result.state = available ? OnDeviceModelAvailability::State::available
                                 : OnDeviceModelAvailability::State::modelNotReady;
        return result;
    }
    bool supportsLocale(const std::string&) override { return true; }
    std::vector<std::string> supportedLanguages() override { return {"en-Latn-US"}; }
    std::string respond(const std::string& instructions, const std::string& prompt,
                        std::stop_token stop) override {
        std::lock_guard lock(mutex);
        lastInstructions = instructions;
        prompts.push_back(prompt);
        return answer(prompt, stop);
    }

    std::atomic<bool> available = true;
    std::function<std::string(const std::string& prompt, std::stop_token)> answer = [](const std::string&,
                                                                                       std::stop_token) {
        return std::string(R"({"intent": "coding", "purpose": "writing code"})");
    };
    std::mutex mutex;
    std::string lastInstructions;
    std::vector<std::string> prompts;
};

// Embeddings the test chooses: a description (the part before any " | service") named with
// name() embeds as the vector given there, "vec:x,y" as (x, y), anything else as (1, 0). Names
// carry no long digit runs, which the engine's cleaning would drop.
class VectorCatalog final : public SentenceEmbeddingCatalog {
  public:
    using Vectors = std::map<std::string, std::vector<double>>;

    class Model final : public SentenceEmbeddingModel {
      public:
        explicit Model(std::shared_ptr<Vectors> named) : named_(std::move(named)) {}
        std::optional<std::vector<double>> vector(std::string_view text) override {
            const std::string s(text.substr(0, text.find(" | ")));
            if (const auto found = named_->find(s); found != named_->end()) {
                return found->second;
            }
            if (s.rfind("vec:", 0) != 0) {
                return std::vector<double>{1, 0};
            }
            const auto comma = s.find(',');
            return std::vector<double>{std::stod(s.substr(4, comma - 4)), std::stod(s.substr(comma + 1))};
        }

      private:
        std::shared_ptr<Vectors> named_;
    };

    // Registers `vector` under a fresh description and returns it. Call before the text is embedded.
    std::string name(std::vector<double> vector) {
        const std::string text = "topic " + std::to_string(named_->size());
        (*named_)[text] = std::move(vector);
        return text;
    }

    std::optional<std::string> dominantLanguage(std::string_view) override { return "en"; }
    std::shared_ptr<SentenceEmbeddingModel> sentenceEmbedding(const std::string&) override {
        return std::make_shared<Model>(named_);
    }

  private:
    std::shared_ptr<Vectors> named_ = std::make_shared<Vectors>();
};

} // namespace velnote::testing
