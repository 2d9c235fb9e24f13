#include "platform/ml/Network.h"

#include "platform/ml/ModelError.h"

#include <mutex>

namespace velnote::platform::ml {
namespace {

struct Registry {
    std::mutex mutex;
    std::map<std::string, NetworkFactory> factories;
};

Registry& registry() {
    static Registry* instance = [] {
        auto* r = new Registry;
        r->factories[architectures::kMelSpectrogram] = makeMelSpectrogramNetwork;
        r->factories[architectures::kAudioEncoder] = makeAudioEncoderNetwork;
        r->factories[architectures::kTextDecoder] = makeTextDecoderNetwork;
        r->factories[architectures::kTextDecoderContextPrefill] = makeContextPrefillNetwork;
        r->factories[architectures::kSpeakerSegmenter] = makeSpeakerSegmenterNetwork;
        r->factories[architectures::kSpeakerEmbedderPreprocessor] = makeSpeakerEmbedderPreprocessorNetwork;
        r->factories[architectures::kSpeakerEmbedder] = makeSpeakerEmbedderNetwork;
        r->factories[architectures::kPldaProjector] = makePldaProjectorNetwork;
        return r;
    }();
    return *instance;
}

} // namespace

void registerArchitecture(const std::string& architecture, NetworkFactory factory) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    r.factories[architecture] = std::move(factory);
}

std::unique_ptr<Network> makeNetwork(std::shared_ptr<const ModelFile> file) {
    const std::string architecture = architectureName(file->config());
    NetworkFactory factory;
    {
        Registry& r = registry();
        std::lock_guard lock(r.mutex);
        auto found = r.factories.find(architecture);
        if (found == r.factories.end())
            throw ModelError(ModelError::Code::invalidModel,
                             "No network for architecture \"" + architecture + "\"");
        factory = found->second;
    }
    return factory(std::move(file));
}

} // namespace velnote::platform::ml
