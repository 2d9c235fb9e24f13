#include "engine/diarization/loader/ModelSetGenerator.h"

#include "engine/diarization/loader/PyannoteModelLoader.h"
#include "engine/foundation/ModelUtilities.h"
#include "platform/ml/ModelGenerator.h"
#include "platform/ml/ModelWriter.h"

namespace diarith {
namespace {

namespace ml = velnote::platform::ml;

ml::FeatureSpecs damaged(const ml::ModelConfig& config, ModelDamage damage) {
    ml::FeatureSpecs specs = ml::featureSpecs(config);
    const auto drop = [&specs](const std::string& name) {
        std::erase_if(specs.outputs, [&name](const ml::FeatureSpec& s) { return s.name == name; });
    };
    if (const auto* segmenter = std::get_if<ml::SpeakerSegmenterConfig>(&config)) {
        if (damage == ModelDamage::segmenterOutputMissing)
            drop("speaker_activity");
        if (damage == ModelDamage::segmenterWrongRank)
            specs.outputs[1].shape = {segmenter->windowCount,
                                      static_cast<std::int64_t>(segmenter->frameCount) *
                                          segmenter->speakerCount};
    }
    if (const auto* preprocessor = std::get_if<ml::SpeakerEmbedderPreprocessorConfig>(&config)) {
        if (damage == ModelDamage::noWaveformSize)
            specs.inputs[0].shape = {preprocessor->waveformSamples};
        if (damage == ModelDamage::preprocessorOutputMissing)
            drop("preprocessor_output_1");
    }
    return specs;
}

void write(const std::filesystem::path& file, const ml::ModelConfig& config,
           std::vector<ml::WeightTensor> weights, ModelDamage damage) {
    ml::writeModelFile(file, config, weights, damaged(config, damage));
}

} // namespace

ModelSetSizes ModelSetSizes::consistent() const {
    ModelSetSizes out = *this;
    const auto& s = out.segmenter;
    out.embedder.maskRows = s.windowCount * s.speakerCount;
    const float secondsPerWindow = static_cast<float>(s.windowSamples) / 16000.0f;
    out.embedder.maskFrames = static_cast<int>(static_cast<float>(s.chunkSamples) / 16000.0f *
                                               static_cast<float>(s.frameCount) / secondsPerWindow);
    out.embedder.featureFrames = static_cast<int>(out.preprocessor.frameCount());
    out.embedder.featureLength = out.preprocessor.melCount;
    out.preprocessor.waveformSamples = s.chunkSamples;
    out.embedder.featureFrames = static_cast<int>(out.preprocessor.frameCount());
    out.plda.rows = out.embedder.maskRows;
    out.plda.embeddingLength = out.embedder.embeddingLength;
    out.plda.betweenClassCovariance = ml::betweenClassCovariance(out.plda.pldaLength);
    return out;
}

ModelSetSizes ModelSetSizes::tone() {
    ModelSetSizes sizes;
    sizes.segmenter.bandCount = 2;
    sizes.segmenter.hiddenWidth = 2;
    sizes.segmenter.blockCount = 0;
    sizes.embedder.projectionWidth = 2;
    sizes.embedder.embeddingLength = 4;
    return sizes.consistent();
}

void writeModelSet(const std::filesystem::path& repository, GeneratedWeights weights, std::uint32_t seed,
                   ModelSetSizes sizes, ModelDamage damage) {
    if (damage == ModelDamage::singleWindow) {
        sizes.segmenter.windowCount = 1;
        sizes = sizes.consistent();
    }
    if (damage == ModelDamage::fewMaskRows) {
        sizes.embedder.maskRows -= 1;
        sizes.plda.rows = sizes.embedder.maskRows;
    }
    const bool tone = weights == GeneratedWeights::tone;
    const auto folder = [&repository](const basalith::ModelInfo& info) { return info.modelURL(repository); };
    using basalith::ModelUtilities;
    write(ModelUtilities::detectModelURL(folder(segmenterModelInfo()), "SpeakerSegmenter"), sizes.segmenter,
          tone ? ml::toneSegmenterWeights(sizes.segmenter) : ml::randomWeights(sizes.segmenter, seed),
          damage);
    write(ModelUtilities::detectModelURL(folder(embedderModelInfo()), "SpeakerEmbedderPreprocessor"),
          sizes.preprocessor, ml::randomWeights(sizes.preprocessor, seed), damage);
    write(ModelUtilities::detectModelURL(folder(embedderModelInfo()), "SpeakerEmbedder"), sizes.embedder,
          tone ? ml::toneEmbedderWeights(sizes.embedder, sizes.preprocessor)
               : ml::randomWeights(sizes.embedder, seed),
          damage);
    write(ModelUtilities::detectModelURL(folder(pldaModelInfo()), "PldaProjector"), sizes.plda,
          tone ? ml::tonePldaWeights(sizes.plda) : ml::randomWeights(sizes.plda, seed), damage);
}

} // namespace diarith
