#include "speech/ondevice/VocalithEngine.h"

#include "engine/speech/Vocalith.h"

namespace velnote {
namespace {

class VocalithSpeechEngine final : public SpeechEngine {
  public:
    explicit VocalithSpeechEngine(std::shared_ptr<vocalith::Vocalith> engine) : engine_(std::move(engine)) {}

    std::vector<vocalith::TranscriptionResultPtr> transcribe(const std::vector<float>& audioArray,
                                                             const vocalith::DecodingOptions& options,
                                                             std::stop_token stop) override {
        return engine_->transcribe(audioArray, options, {}, {}, stop);
    }

  private:
    std::shared_ptr<vocalith::Vocalith> engine_;
};

} // namespace

SpeechEngineFactory vocalithEngineFactory() {
    // The engine's construction has no way to stop; the service's time limit covers a hung one.
    return [](const vocalith::VocalithConfig& config, std::stop_token) -> std::shared_ptr<SpeechEngine> {
        return std::make_shared<VocalithSpeechEngine>(vocalith::Vocalith::create(config));
    };
}

} // namespace velnote
