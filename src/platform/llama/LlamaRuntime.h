#pragma once

#include <memory>

struct ggml_threadpool;

namespace velnote::platform {

// Starts llama.cpp's back-end and installs its log callback, once per process. Both are the
// process's, not a model's: every user of llama.cpp starts it here, so that no user replaces
// another's callback. llama.cpp's errors go to the "summarize" log; the lines it writes for every
// step of a load are dropped.
void startLlamaRuntime();

struct LlamaThreadpoolDeleter {
    void operator()(ggml_threadpool* pool) const;
};
using LlamaThreadpool = std::unique_ptr<ggml_threadpool, LlamaThreadpoolDeleter>;

// `threads` workers kept for one whole generation (llama_attach_threadpool): without a pool of its
// own, every token's decode starts and joins its threads afresh. Made before the context it
// serves, so that it is freed after it; null when llama.cpp could not start one.
LlamaThreadpool newLlamaThreadpool(int threads);

} // namespace velnote::platform
