#include "summary/local/LlamaCppTextGenerator.h"

#include "platform/concurrency/CancellationError.h"
#include "platform/concurrency/ThreadPool.h"
#include "platform/llama/LlamaRuntime.h"
#include "platform/text/CaseMapping.h"
#include "platform/text/Characters.h"
#include "platform/text/Whitespace.h"
#include "session/VelnoteLogger.h"
#include "summary/text/SummaryFormatter.h"

#include <algorithm>
#include <climits>
#include <llama.h>
#include <memory>
#include <thread>
#include <unistd.h>

namespace velnote {
namespace {

constexpr std::uint32_t kFirstSeed = 1234;
constexpr float kFirstTemperature = 0.4f;
constexpr std::uint32_t kRetrySeed = 9973;
constexpr float kRetryTemperature = 0.85f;
constexpr double kGiB = 1024.0 * 1024.0 * 1024.0;

struct ContextDeleter {
    void operator()(llama_context* context) const { llama_free(context); }
};
struct SamplerDeleter {
    void operator()(llama_sampler* sampler) const { llama_sampler_free(sampler); }
};

// A batch of llama_batch_init, freed with llama_batch_free.
class Batch {
  public:
    explicit Batch(std::int32_t capacity) : batch_(llama_batch_init(capacity, 0, 1)) {}
    ~Batch() { llama_batch_free(batch_); }
    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;

    void set(std::int32_t index, llama_token token, llama_pos position, bool logits) {
        batch_.token[index] = token;
        batch_.pos[index] = position;
        batch_.n_seq_id[index] = 1;
        batch_.seq_id[index][0] = 0;
        batch_.logits[index] = logits;
    }
    llama_batch& get() { return batch_; }

  private:
    llama_batch batch_;
};

} // namespace

std::vector<llama_token> LlamaCppTextGenerator::tokenizePrompt(std::string_view prompt,
                                                               const llama_vocab* vocab) {
    if (prompt.size() > static_cast<std::size_t>(INT32_MAX - 64))
        throw LlamaCppGenerationError(LlamaCppGenerationError::Kind::tokenizationFailed);
    const auto length = static_cast<std::int32_t>(prompt.size());
    std::vector<llama_token> tokens(prompt.size() + 64);
    // The ChatML markers of the prompt are the model's special tokens; the prompt builder has
    // removed marker texts from the inputs, so only the frame's own are parsed as such.
    const std::int32_t count = llama_tokenize(vocab, prompt.data(), length, tokens.data(), length + 64,
                                              /*add_special=*/true, /*parse_special=*/true);
    if (count < 1)
        throw LlamaCppGenerationError(LlamaCppGenerationError::Kind::tokenizationFailed);
    tokens.resize(static_cast<std::size_t>(count));
    return tokens;
}

namespace {

void appendToken(llama_token token, std::string& bytes, const llama_vocab* vocab) {
    char small[8];
    std::int32_t length = llama_token_to_piece(vocab, token, small, sizeof small, 0, false);
    if (length >= 0) {
        bytes.append(small, static_cast<std::size_t>(length));
        return;
    }
    std::vector<char> large(static_cast<std::size_t>(-length), '\0');
    length =
        llama_token_to_piece(vocab, token, large.data(), static_cast<std::int32_t>(large.size()), 0, false);
    if (length > 0)
        bytes.append(large.data(), static_cast<std::size_t>(length));
}

std::string paramsText(const llama_model_params& params) {
    return "n_gpu_layers=" + std::to_string(params.n_gpu_layers) +
           " main_gpu=" + std::to_string(params.main_gpu) +
           " load_mode=" + std::to_string(static_cast<int>(params.load_mode)) +
           " vocab_only=" + std::to_string(params.vocab_only) +
           " check_tensors=" + std::to_string(params.check_tensors);
}

} // namespace

LlamaCppGenerationError::LlamaCppGenerationError(Kind kind, const std::string& description)
    : std::runtime_error(description), kind_(kind) {}

LlamaCppGenerationError::LlamaCppGenerationError(Kind kind)
    : LlamaCppGenerationError(kind, [kind]() -> std::string {
          switch (kind) {
          case Kind::cannotCreateContext:
              return "llama.cpp context creation failed";
          case Kind::tokenizationFailed:
              return "llama.cpp tokenization failed";
          case Kind::decoderUnsupported:
              return "model has no decoder";
          case Kind::missingVocab:
              return "llama.cpp vocab generation failed";
          case Kind::cannotLoadModel:
              return "llama.cpp model load failed: ";
          case Kind::decodeFailed:
              return "llama.cpp decode failed (code=1)";
          }
          return "llama.cpp failed";
      }()) {}

LlamaCppGenerationError LlamaCppGenerationError::cannotLoadModel(const std::string& path) {
    return {Kind::cannotLoadModel, "llama.cpp model load failed: " + path};
}

LlamaCppGenerationError LlamaCppGenerationError::decodeFailed(std::int32_t code) {
    return {Kind::decodeFailed, "llama.cpp decode failed (code=" + std::to_string(code) + ")"};
}

LlamaCppTextGenerator::Machine LlamaCppTextGenerator::Machine::current() {
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGE_SIZE);
    Machine machine;
    if (pages > 0 && pageSize > 0)
        machine.physicalMemoryBytes =
            static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize);
    machine.processorCount = std::max(1u, std::thread::hardware_concurrency());
    return machine;
}

LlamaCppTextGenerator::LlamaCppTextGenerator() : LlamaCppTextGenerator(Options{}) {}

LlamaCppTextGenerator::LlamaCppTextGenerator(Options options) : options_(std::move(options)) {}

LlamaCppTextGenerator::~LlamaCppTextGenerator() {
    unloadModel();
}

LlamaCppTextGenerator& LlamaCppTextGenerator::shared() {
    static auto* generator = new LlamaCppTextGenerator();
    return *generator;
}

std::string LlamaCppTextGenerator::generateAsync(std::string_view prompt,
                                                 const std::filesystem::path& modelPath,
                                                 std::int64_t maxTokens, std::stop_token stop) {
    std::string text = generateOnce(prompt, modelPath, maxTokens, kFirstSeed, kFirstTemperature, stop);
    if (!SummaryFormatter::sanitizeGeneratedOverview(text).empty())
        return text;
    VelnoteLogger::summarize().notice(
        "llama.cpp output looked degenerate, retrying once with adjusted sampling");
    return generateOnce(prompt, modelPath, maxTokens, kRetrySeed, kRetryTemperature, stop);
}

std::string LlamaCppTextGenerator::generateOnce(std::string_view prompt,
                                                const std::filesystem::path& modelPath,
                                                std::int64_t maxTokens, std::uint32_t seed, float temperature,
                                                std::stop_token stop) {
    auto cancelled = std::make_shared<std::atomic<bool>>(false);
    std::stop_callback onStop(stop, [cancelled] { cancelled->store(true); });
    platform::Executor& executor = options_.executor != nullptr
                                       ? *options_.executor
                                       : platform::ThreadPool::shared().executor(platform::Priority::utility);
    auto result = executor.submit(
        [this, prompt = std::string(prompt), modelPath, maxTokens, seed, temperature, cancelled] {
            return generate(prompt, modelPath, maxTokens, seed, temperature,
                            [cancelled] { return cancelled->load(); });
        });
    return result.get();
}

std::string LlamaCppTextGenerator::generate(std::string_view prompt, const std::filesystem::path& modelPath,
                                            std::int64_t maxTokens, std::uint32_t seed, float temperature,
                                            const std::function<bool()>& isCancelled) {
    // One attempt at a time, so that no attempt frees the model another one uses.
    std::lock_guard attempt(attemptMutex_);
    platform::startLlamaRuntime();
    llama_model* model = loadModel(modelPath, calculateOptimalGpuLayers(modelPath));
    if (!llama_model_has_decoder(model))
        throw LlamaCppGenerationError(LlamaCppGenerationError::Kind::decoderUnsupported);
    const llama_vocab* vocab = llama_model_get_vocab(model);
    if (vocab == nullptr)
        throw LlamaCppGenerationError(LlamaCppGenerationError::Kind::missingVocab);

    const std::vector<llama_token> tokens = tokenizePrompt(prompt, vocab);
    const auto promptCount = static_cast<std::int32_t>(tokens.size());
    const std::int64_t budget = std::clamp<std::int64_t>(maxTokens, 0, INT32_MAX);
    const std::int64_t size = contextSize(promptCount, budget);
    if (size > INT32_MAX)
        throw LlamaCppGenerationError(LlamaCppGenerationError::Kind::cannotCreateContext);
    auto params = llama_context_default_params();
    params.n_ctx = params.n_batch = static_cast<std::uint32_t>(size);
    params.n_threads = params.n_threads_batch = threadCount(options_.machine.processorCount);
    const platform::LlamaThreadpool pool = platform::newLlamaThreadpool(params.n_threads);
    std::unique_ptr<llama_context, ContextDeleter> context(llama_init_from_model(model, params));
    if (!context || !pool)
        throw LlamaCppGenerationError(LlamaCppGenerationError::Kind::cannotCreateContext);
    llama_attach_threadpool(context.get(), pool.get(), pool.get());

    std::unique_ptr<llama_sampler, SamplerDeleter> sampler(
        llama_sampler_chain_init(llama_sampler_chain_default_params()));
    if (!sampler)
        throw LlamaCppGenerationError(LlamaCppGenerationError::Kind::cannotCreateContext);
    llama_sampler_chain_add(
        sampler.get(), llama_sampler_init_penalties(llama_vocab_n_tokens(vocab), 2048, 1.1f, 0.0f, 0.0f));
    llama_sampler_chain_add(sampler.get(), llama_sampler_init_temp(temperature));
    llama_sampler_chain_add(sampler.get(), llama_sampler_init_dist(seed));

    Batch batch(promptCount);
    for (std::int32_t i = 0; i < promptCount; ++i)
        batch.set(i, tokens[static_cast<std::size_t>(i)], i, i == promptCount - 1);
    batch.get().n_tokens = promptCount;
    if (llama_decode(context.get(), batch.get()) != 0)
        throw LlamaCppGenerationError::decodeFailed(1);

    std::string bytes;
    for (std::int64_t step = 0; step < budget; ++step) {
        if (isCancelled())
            throw platform::CancellationError();
        const llama_token token =
            llama_sampler_sample(sampler.get(), context.get(), step == 0 ? promptCount - 1 : 0);
        if (llama_vocab_is_eog(vocab, token))
            break;
        appendToken(token, bytes, vocab);
        llama_sampler_accept(sampler.get(), token);
        batch.set(0, token, static_cast<llama_pos>(promptCount + step), true);
        batch.get().n_tokens = 1;
        if (llama_decode(context.get(), batch.get()) != 0)
            throw LlamaCppGenerationError::decodeFailed(1);
    }
    return answerText(bytes);
}

llama_model* LlamaCppTextGenerator::loadModel(const std::filesystem::path& modelPath,
                                              std::int32_t gpuLayers) {
    const std::string path = modelPath.string();
    std::optional<std::int32_t> lastLayers;
    {
        std::lock_guard lock(layersMutex_);
        if (const auto found = lastSuccessfulGpuLayers_.find(path); found != lastSuccessfulGpuLayers_.end())
            lastLayers = found->second;
    }
    std::lock_guard lock(modelMutex_);
    if (cachedModel_ != nullptr && cachedModelPath_ == path && lastLayers == gpuLayers) {
        VelnoteLogger::summarize().debug("using cached llama model: {} n_gpu_layers={}", path, gpuLayers);
        return cachedModel_;
    }
    if (cachedModel_ != nullptr) {
        VelnoteLogger::summarize().info("unloading previous llama model");
        llama_model_free(std::exchange(cachedModel_, nullptr));
    }
    cachedModelPath_.reset();

    auto params = llama_model_default_params();
    params.n_gpu_layers = gpuLayers;
    VelnoteLogger::summarize().info("loading llama model: {} with params: {}", path, paramsText(params));
    llama_model* model = llama_model_load_from_file(path.c_str(), params);
    if (model == nullptr)
        throw LlamaCppGenerationError::cannotLoadModel(path);
    ++loadCount_;
    cachedModel_ = model;
    cachedModelPath_ = path;
    std::lock_guard layersLock(layersMutex_);
    lastSuccessfulGpuLayers_[path] = gpuLayers;
    return model;
}

void LlamaCppTextGenerator::unloadModel() {
    std::lock_guard lock(modelMutex_);
    if (cachedModel_ != nullptr)
        llama_model_free(std::exchange(cachedModel_, nullptr));
    cachedModelPath_.reset();
}

std::optional<std::string> LlamaCppTextGenerator::loadedModelPath() const {
    std::lock_guard lock(modelMutex_);
    return cachedModel_ != nullptr ? cachedModelPath_ : std::nullopt;
}

std::int32_t LlamaCppTextGenerator::calculateOptimalGpuLayers(const std::filesystem::path& modelPath) const {
    const std::string sizeClass = estimateParamSize(modelPath);
    const double memoryGB = static_cast<double>(options_.machine.physicalMemoryBytes) / kGiB;
    const std::int32_t layers = nGpuLayers(sizeClass, memoryGB);
    VelnoteLogger::summarize().info(
        "GPU layers calculated: model={} size={} memory={}GB cores={} n_gpu_layers={}",
        platform::lowercased(modelPath.filename().string()), sizeClass, static_cast<long>(memoryGB),
        options_.machine.processorCount, layers);
    return layers;
}

std::string LlamaCppTextGenerator::estimateParamSize(const std::filesystem::path& modelPath) {
    std::error_code error;
    const std::uintmax_t bytes = std::filesystem::file_size(modelPath, error);
    if (error) {
        VelnoteLogger::summarize().error("could not determine model size: {}", error.message());
        return "medium";
    }
    const double gib = static_cast<double>(bytes) / kGiB;
    return gib < 2.5 ? "small" : gib < 4.5 ? "medium" : "large";
}

std::int32_t LlamaCppTextGenerator::nGpuLayers(std::string_view sizeClass, double memoryGB) {
    if (sizeClass == "medium")
        return memoryGB >= 24 ? 99 : memoryGB >= 16 ? 40 : memoryGB >= 8 ? 20 : 10;
    if (sizeClass == "large")
        return memoryGB >= 24 ? 60 : memoryGB >= 16 ? 20 : 0;
    return 99;
}

std::int64_t LlamaCppTextGenerator::contextSize(std::int64_t promptTokens, std::int64_t maxTokens) {
    const std::int64_t needed = promptTokens + std::clamp<std::int64_t>(maxTokens, 0, INT32_MAX) + 64;
    return (needed + 511) / 512 * 512;
}

std::int32_t LlamaCppTextGenerator::threadCount(unsigned processorCount) {
    return static_cast<std::int32_t>(std::clamp<long>(static_cast<long>(processorCount) - 2, 1, 8));
}

std::string LlamaCppTextGenerator::answerText(std::string_view bytes) {
    return platform::trimWhitespace(
        platform::replacingInvalidUtf8(platform::withoutUnfinishedCharacter(bytes)));
}

} // namespace velnote
