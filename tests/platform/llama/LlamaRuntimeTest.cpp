#include "platform/llama/LlamaRuntime.h"

#include "engine/foundation/Logging.h"
#include "platform/logging/Logger.h"
#include "platform/ml/ModelError.h"
#include "platform/ml/ModelFile.h"
#include "support/TempDir.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <llama.h>
#include <mutex>
#include <string>
#include <vector>

namespace velnote {
namespace {

// The engine logger's lines, captured at debug level.
class EngineLines {
  public:
    EngineLines() {
        basalith::Logging::shared().setLogLevel(basalith::Logging::LogLevel::debug);
        basalith::Logging::shared().setLoggingCallback([this](const std::string& line) {
            std::lock_guard lock(mutex_);
            lines_.push_back(line);
        });
    }
    ~EngineLines() { basalith::Logging::shared().setLoggingCallback({}); }

    bool contains(const std::string& text) const {
        std::lock_guard lock(mutex_);
        return std::ranges::any_of(
            lines_, [&](const std::string& line) { return line.find(text) != std::string::npos; });
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

bool check(bool ok, const char* what) {
    if (!ok)
        std::fprintf(stderr, "failed: %s\n", what);
    return ok;
}

// ggml keeps one log callback per process and llama.cpp's own setter replaces it, so what each
// logger gets may depend on which of the two users starts first. True when every line went where
// it belongs; meant for a fresh process, as the callbacks are installed once per process.
bool startBothAndLog(bool speechFirst) {
    testing::TempDir dir;
    const auto junk = dir / "model.gguf";
    std::ofstream(junk) << "not a model file at all";
    const auto loadSpeechModel = [&] {
        try {
            platform::ml::ModelFile::load(junk);
        } catch (const platform::ml::ModelError&) {
        }
    };
    if (speechFirst)
        loadSpeechModel();
    platform::startLlamaRuntime();

    bool ok = true;
    {
        EngineLines engine;
        platform::LogCapture summary;
        loadSpeechModel(); // ggml's reader refuses the file and says why
        ok &= check(engine.contains("ggml: gguf_init"), "ggml line in the engine log");
        ok &= check(!summary.contains("gguf_init"), "no ggml line in the summary log");
    }
    {
        EngineLines engine;
        platform::LogCapture summary;
        llama_model_free(llama_model_load_from_file(junk.c_str(), llama_model_default_params()));
        ok &= check(summary.contains("llama.cpp: llama_model_load"), "llama.cpp error in the summary log");
        ok &= check(!engine.contains("llama_model_load"), "no llama.cpp line in the engine log");
    }
    return ok;
}

TEST(LlamaRuntimeTest, GgmlAndLlamaLinesReachTheirOwnLoggersWhicheverStartsFirst) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(std::exit(startBothAndLog(true) ? 0 : 1), ::testing::ExitedWithCode(0), "")
        << "speech runtime first";
    EXPECT_EXIT(std::exit(startBothAndLog(false) ? 0 : 1), ::testing::ExitedWithCode(0), "")
        << "llama.cpp first";
}

} // namespace
} // namespace velnote
