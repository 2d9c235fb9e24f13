#pragma once

#include "engine/foundation/MultiArray.h"
#include "platform/ml/ModelFile.h"

#include <functional>
#include <map>
#include <memory>
#include <string>

namespace velnote::platform::ml {

using FeatureMap = std::map<std::string, basalith::MultiArray>;

// The computation behind one architecture. Made once per loaded model from its checked file;
// predict() is called from any number of threads at once and must not change shared state
// without its own lock.
class Network {
  public:
    virtual ~Network() = default;
    // `inputs` holds every declared input, contiguous and of its declared type and shape (the
    // model checks and converts them first). Returns every declared output. Throws ModelError
    // (invalidInput for values the network cannot take, such as a token id outside the vocabulary).
    virtual FeatureMap predict(const FeatureMap& inputs, int threads) const = 0;
};

using NetworkFactory = std::function<std::unique_ptr<Network>(std::shared_ptr<const ModelFile>)>;

// Networks by GGUF architecture key. The speech and speaker networks are registered on first use;
// further architectures add themselves the same way.
void registerArchitecture(const std::string& architecture, NetworkFactory factory);
// Throws ModelError(invalidModel) for a key nobody registered.
std::unique_ptr<Network> makeNetwork(std::shared_ptr<const ModelFile> file);

// The four built-in factories (defined beside their networks).
std::unique_ptr<Network> makeMelSpectrogramNetwork(std::shared_ptr<const ModelFile> file);
std::unique_ptr<Network> makeAudioEncoderNetwork(std::shared_ptr<const ModelFile> file);
std::unique_ptr<Network> makeTextDecoderNetwork(std::shared_ptr<const ModelFile> file);
std::unique_ptr<Network> makeContextPrefillNetwork(std::shared_ptr<const ModelFile> file);

// The four speaker networks of the diarization engine (SpeakerNetworks.cpp), registered the same way.
std::unique_ptr<Network> makeSpeakerSegmenterNetwork(std::shared_ptr<const ModelFile> file);
std::unique_ptr<Network> makeSpeakerEmbedderPreprocessorNetwork(std::shared_ptr<const ModelFile> file);
std::unique_ptr<Network> makeSpeakerEmbedderNetwork(std::shared_ptr<const ModelFile> file);
std::unique_ptr<Network> makePldaProjectorNetwork(std::shared_ptr<const ModelFile> file);

} // namespace velnote::platform::ml
