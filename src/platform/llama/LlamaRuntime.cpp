#include "platform/llama/LlamaRuntime.h"

#include "platform/logging/Logger.h"
#include "platform/ml/GgmlSupport.h"

#include <ggml-cpu.h>
#include <llama.h>
#include <mutex>
#include <string>

namespace velnote::platform {
namespace {

void logErrors(ggml_log_level level, const char* text, void*) {
    if (level != GGML_LOG_LEVEL_ERROR || text == nullptr)
        return;
    std::string line(text);
    while (!line.empty() && line.back() == '\n')
        line.pop_back();
    static const Logger log("io.hushtape.velnote", "summarize");
    log.error("llama.cpp: {}", line);
}

} // namespace

void startLlamaRuntime() {
    static std::once_flag once;
    std::call_once(once, [] {
        llama_backend_init();
        // llama_log_set also replaces ggml's callback, which ggml's other user routes.
        ml::installLoggerSharingGgml([] { llama_log_set(&logErrors, nullptr); });
    });
}

void LlamaThreadpoolDeleter::operator()(ggml_threadpool* pool) const {
    ggml_threadpool_free(pool);
}

LlamaThreadpool newLlamaThreadpool(int threads) {
    auto params = ggml_threadpool_params_default(threads);
    return LlamaThreadpool(ggml_threadpool_new(&params));
}

} // namespace velnote::platform
