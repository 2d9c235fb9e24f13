#pragma once

#include "engine/speech/DecodingOptions.h"
#include "engine/speech/VocalithConfig.h"
#include "engine/speech/transcription/TranscriptionResult.h"

#include <functional>
#include <memory>
#include <stdexcept>
#include <stop_token>
#include <vector>

namespace velnote {

// What the transcription service uses of a loaded speech engine.
class SpeechEngine {
  public:
    virtual ~SpeechEngine() = default;

    // 16 kHz mono samples; no progress or segment callbacks. Blocks; throws the engine's errors.
    virtual std::vector<vocalith::TranscriptionResultPtr> transcribe(const std::vector<float>& audioArray,
                                                                     const vocalith::DecodingOptions& options,
                                                                     std::stop_token stop) = 0;
};

// Builds an engine for `config`, fetching and loading its models; blocks until it is ready or
// fails. `stop` asks it to give up where it can.
using SpeechEngineFactory = std::function<std::shared_ptr<SpeechEngine>(
    const vocalith::VocalithConfig& config, std::stop_token stop)>;

// An engine that took longer than the creation limit; the caller has moved on without it.
class VocalithInitTimeoutError : public std::runtime_error {
  public:
    VocalithInitTimeoutError()
        : std::runtime_error("Vocalith initialization timed out (GPU/Metal not ready)") {}
};

} // namespace velnote
