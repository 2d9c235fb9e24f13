#pragma once

#include "platform/concurrency/Executor.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

struct llama_model;
struct llama_vocab;

namespace velnote {

// A failure of llama.cpp. what() is the description ("llama.cpp model load failed: <path>").
class LlamaCppGenerationError : public std::runtime_error {
  public:
    enum class Kind {
        cannotLoadModel,     // subject: the model file's path
        decodeFailed,        // code: always 1
        cannotCreateContext, //
        tokenizationFailed,  //
        decoderUnsupported,  // the model has no decoder
        missingVocab,        //
    };

    static LlamaCppGenerationError cannotLoadModel(const std::string& path);
    static LlamaCppGenerationError decodeFailed(std::int32_t code);
    explicit LlamaCppGenerationError(Kind kind);

    Kind kind() const { return kind_; }

  private:
    LlamaCppGenerationError(Kind kind, const std::string& description);

    Kind kind_;
};

// Turns one finished prompt into text with a local GGUF model through llama.cpp: the one part of
// the application that generates with it. One model stays loaded between calls (reloaded when
// the file or its GPU layer count changes); every call gets a fresh context and sampler chain,
// samples with a fixed seed, and is retried once with other sampling when its answer cleans to
// nothing.
//
// Callers never generate at once: they hold the single model slot around their calls. The
// fields are guarded, not the model. A generation runs on a pool thread while its caller waits.
class LlamaCppTextGenerator {
  public:
    struct Machine {
        std::uint64_t physicalMemoryBytes = 0;
        unsigned processorCount = 1;

        static Machine current();
    };
    struct Options {
        Machine machine = Machine::current();
        platform::Executor* executor = nullptr; // where attempts run; nullptr: the shared pool
    };

    LlamaCppTextGenerator();
    explicit LlamaCppTextGenerator(Options options);
    ~LlamaCppTextGenerator(); // frees the loaded model
    LlamaCppTextGenerator(const LlamaCppTextGenerator&) = delete;
    LlamaCppTextGenerator& operator=(const LlamaCppTextGenerator&) = delete;

    // The process's generator, created on first use and never destroyed.
    static LlamaCppTextGenerator& shared();

    // The answer to `prompt` (ChatML text) from the model at `modelPath`, at most `maxTokens`
    // tokens, trimmed; the empty text for a model that ends at once or a budget of 0. Blocks the
    // caller while a pool thread generates. Throws LlamaCppGenerationError, or
    // platform::CancellationError before the next token once `stop` is requested.
    std::string generateAsync(std::string_view prompt, const std::filesystem::path& modelPath,
                              std::int64_t maxTokens, std::stop_token stop = {});

    // The internals, for tests and the benchmark.

    // One attempt on the executor; `stop` sets the attempt's cancellation flag.
    std::string generateOnce(std::string_view prompt, const std::filesystem::path& modelPath,
                             std::int64_t maxTokens, std::uint32_t seed, float temperature,
                             std::stop_token stop);
    // One attempt on the calling thread. `isCancelled` is asked before every token.
    std::string generate(std::string_view prompt, const std::filesystem::path& modelPath,
                         std::int64_t maxTokens, std::uint32_t seed, float temperature,
                         const std::function<bool()>& isCancelled);

    // The GPU layer count for the model file's size class on this machine.
    std::int32_t calculateOptimalGpuLayers(const std::filesystem::path& modelPath) const;
    // "small" below 2.5 GiB, "medium" below 4.5 GiB, else "large"; "medium" when the size cannot be read.
    static std::string estimateParamSize(const std::filesystem::path& modelPath);
    static std::int32_t nGpuLayers(std::string_view sizeClass, double memoryGB);
    // Prompt tokens + budget + 64, rounded up to a multiple of 512.
    static std::int64_t contextSize(std::int64_t promptTokens, std::int64_t maxTokens);
    // Two processors left to the rest of the application: 1 to 8.
    static std::int32_t threadCount(unsigned processorCount);
    // The prompt's tokens, the model's special tokens added and the ChatML markers parsed as
    // the special tokens they stand for. Throws tokenizationFailed.
    static std::vector<std::int32_t> tokenizePrompt(std::string_view prompt, const llama_vocab* vocab);
    // The answer's bytes as text: an unfinished character at the end dropped (a budget can end
    // inside one), any other invalid sequence replaced by U+FFFD, white space trimmed.
    static std::string answerText(std::string_view bytes);

    // The path of the loaded model, if any.
    std::optional<std::string> loadedModelPath() const;
    // How many times a model file was loaded (not taken from the cache).
    int loadCount() const { return loadCount_.load(); }

  private:
    llama_model* loadModel(const std::filesystem::path& modelPath, std::int32_t gpuLayers);
    void unloadModel();

    const Options options_;
    std::mutex attemptMutex_;
    mutable std::mutex modelMutex_; // the model handle and its path
    llama_model* cachedModel_ = nullptr;
    std::optional<std::string> cachedModelPath_;
    std::mutex layersMutex_;
    std::map<std::string, std::int32_t> lastSuccessfulGpuLayers_;
    std::atomic<int> loadCount_{0};
};

} // namespace velnote
