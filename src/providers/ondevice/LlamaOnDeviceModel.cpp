#include "providers/ondevice/LlamaOnDeviceModel.h"

#include "platform/concurrency/CancellationError.h"
#include "platform/fs/AppFolders.h"
#include "platform/llama/LlamaRuntime.h"
#include "platform/text/Characters.h"
#include "platform/text/Markers.h"

#include <algorithm>
#include <llama.h>
#include <vector>

namespace velnote {
namespace {

struct ContextDeleter {
    void operator()(llama_context* context) const { llama_free(context); }
};
struct SamplerDeleter {
    void operator()(llama_sampler* sampler) const { llama_sampler_free(sampler); }
};

// The conversation in the model's chat template, or in ChatML when the file has none.
std::string chatText(const llama_model* model, const std::string& instructions, const std::string& prompt) {
    const llama_chat_message messages[] = {{"system", instructions.c_str()}, {"user", prompt.c_str()}};
    if (const char* tmpl = llama_model_chat_template(model, nullptr)) {
        std::vector<char> buffer(instructions.size() + prompt.size() + 1024);
        int32_t length = llama_chat_apply_template(tmpl, messages, 2, true, buffer.data(),
                                                   static_cast<int32_t>(buffer.size()));
        if (length > static_cast<int32_t>(buffer.size())) {
            buffer.resize(static_cast<std::size_t>(length));
            length = llama_chat_apply_template(tmpl, messages, 2, true, buffer.data(), length);
        }
        if (length >= 0)
            return std::string(buffer.data(), static_cast<std::size_t>(length));
    }
    return "<|im_start|>system\n" + instructions + "<|im_end|>\n<|im_start|>user\n" + prompt +
           "<|im_end|>\n<|im_start|>assistant\n";
}

// The texts of the model's control tokens. The caller's texts (a transcript, screen text) must not
// open or close a turn of the chat, so these are removed from them before the template is applied.
std::vector<std::string> controlTokenTexts(const llama_vocab* vocab) {
    std::vector<std::string> texts;
    const int32_t count = llama_vocab_n_tokens(vocab);
    for (llama_token token = 0; token < count; ++token) {
        if ((llama_vocab_get_attr(vocab, token) & LLAMA_TOKEN_ATTR_CONTROL) == 0)
            continue;
        if (const char* text = llama_vocab_get_text(vocab, token); text != nullptr && *text != '\0')
            texts.emplace_back(text);
    }
    return texts;
}

std::vector<llama_token> tokenize(const llama_vocab* vocab, const std::string& text) {
    if (text.size() > static_cast<std::size_t>(INT32_MAX / 2))
        throw OnDeviceGenerationError(OnDeviceGenerationError::Kind::exceededContextWindowSize,
                                      "prompt too long");
    const auto length = static_cast<int32_t>(text.size());
    std::vector<llama_token> tokens(text.size() + 2);
    int32_t count = llama_tokenize(vocab, text.c_str(), length, tokens.data(),
                                   static_cast<int32_t>(tokens.size()), true, true);
    if (count < 0) {
        tokens.resize(static_cast<std::size_t>(-count));
        count = llama_tokenize(vocab, text.c_str(), length, tokens.data(), -count, true, true);
    }
    tokens.resize(static_cast<std::size_t>(std::max(count, 0)));
    return tokens;
}

std::string piece(const llama_vocab* vocab, llama_token token) {
    std::vector<char> buffer(256);
    int32_t length =
        llama_token_to_piece(vocab, token, buffer.data(), static_cast<int32_t>(buffer.size()), 0, false);
    if (length < 0) { // a longer piece: -length bytes
        buffer.resize(static_cast<std::size_t>(-length));
        length = llama_token_to_piece(vocab, token, buffer.data(), -length, 0, false);
    }
    return length > 0 ? std::string(buffer.data(), static_cast<std::size_t>(length)) : std::string();
}

} // namespace

void LlamaOnDeviceModel::ModelDeleter::operator()(llama_model* model) const {
    llama_model_free(model);
}

LlamaOnDeviceModel::LlamaOnDeviceModel(Options options) : options_(std::move(options)) {}

LlamaOnDeviceModel::~LlamaOnDeviceModel() = default;

std::filesystem::path LlamaOnDeviceModel::defaultModelPath() {
    return platform::requiredApplicationSupportDirectory() / "Models" / "on-device.gguf";
}

llama_model* LlamaOnDeviceModel::loadedModel(std::string& failure) {
    if (model_)
        return model_.get();
    std::error_code error;
    if (!std::filesystem::is_regular_file(options_.modelPath, error)) {
        failure.clear();
        return nullptr;
    }
    platform::startLlamaRuntime();
    auto params = llama_model_default_params();
    params.n_gpu_layers = 0;
    model_.reset(llama_model_load_from_file(options_.modelPath.c_str(), params));
    if (!model_)
        failure = "cannot load " + options_.modelPath.string();
    return model_.get();
}

OnDeviceModelAvailability LlamaOnDeviceModel::availability() {
    std::lock_guard lock(mutex_);
    std::string failure;
    if (loadedModel(failure))
        return {};
    if (failure.empty())
        return {.state = OnDeviceModelAvailability::State::modelNotReady, .otherReason = ""};
    return {.state = OnDeviceModelAvailability::State::other, .otherReason = failure};
}

bool LlamaOnDeviceModel::supportsLocale(const std::string&) {
    return true;
}

std::vector<std::string> LlamaOnDeviceModel::supportedLanguages() {
    return {};
}

std::string LlamaOnDeviceModel::respond(const std::string& instructions, const std::string& prompt,
                                        std::stop_token stop) {
    std::lock_guard lock(mutex_);
    std::string failure;
    llama_model* model = loadedModel(failure);
    if (!model)
        throw std::runtime_error(failure.empty() ? "no model at " + options_.modelPath.string() : failure);
    const llama_vocab* vocab = llama_model_get_vocab(model);
    const std::vector<std::string> controls = controlTokenTexts(vocab);
    auto tokens = tokenize(vocab, chatText(model, platform::withoutMarkers(instructions, controls),
                                           platform::withoutMarkers(prompt, controls)));
    const int trained = std::max(llama_model_n_ctx_train(model), 1);
    if (tokens.empty() || static_cast<int>(tokens.size()) >= trained)
        throw OnDeviceGenerationError(OnDeviceGenerationError::Kind::exceededContextWindowSize,
                                      std::to_string(tokens.size()) + " prompt tokens for a context of " +
                                          std::to_string(trained));

    auto params = llama_context_default_params();
    params.n_ctx = static_cast<uint32_t>(std::min<long long>(
        trained, static_cast<long long>(tokens.size()) + std::max(options_.maxResponseTokens, 1)));
    params.n_batch = params.n_ctx;
    params.n_threads = params.n_threads_batch = std::max(options_.threads, 1);
    params.no_perf = true;
    const platform::LlamaThreadpool pool = platform::newLlamaThreadpool(params.n_threads);
    std::unique_ptr<llama_context, ContextDeleter> context(llama_init_from_model(model, params));
    std::unique_ptr<llama_sampler, SamplerDeleter> sampler(
        llama_sampler_chain_init(llama_sampler_chain_default_params()));
    if (!pool || !context || !sampler)
        throw std::runtime_error("llama.cpp could not set up a context");
    llama_attach_threadpool(context.get(), pool.get(), pool.get());
    llama_sampler_chain_add(sampler.get(), llama_sampler_init_greedy());

    std::string answer;
    llama_batch batch = llama_batch_get_one(tokens.data(), static_cast<int32_t>(tokens.size()));
    llama_token token = 0;
    for (int produced = 0; produced < options_.maxResponseTokens; ++produced) {
        platform::throwIfCancelled(stop);
        if (llama_decode(context.get(), batch) != 0)
            break; // the context is full: the answer ends here
        token = llama_sampler_sample(sampler.get(), context.get(), -1);
        if (llama_vocab_is_eog(vocab, token))
            break;
        answer += piece(vocab, token);
        batch = llama_batch_get_one(&token, 1);
    }
    // Tokens are byte pieces: the token limit can cut the last character in half, and stray bytes
    // must not reach a summary file as they are.
    return platform::replacingInvalidUtf8(platform::withoutUnfinishedCharacter(answer));
}

} // namespace velnote
