#include "engine/speech/Vocalith.h"

#include "engine/speech/WhisperError.h"
#include "engine/speech/audio/AudioProcessor.h"
#include "engine/speech/audio/VoiceActivityDetector.h"
#include "engine/speech/decoding/TextDecoder.h"
#include "engine/speech/models/AudioEncoder.h"
#include "engine/speech/models/FeatureExtractor.h"
#include "engine/speech/transcription/SegmentSeeker.h"
#include "platform/concurrency/SystemClock.h"

#include <chrono>

namespace vocalith {

using basalith::Logging;
using basalith::ModelState;

Vocalith::Vocalith(const VocalithConfig& config)
    : modelCompute_(config.computeOptions.value_or(ModelComputeOptions{})),
      audioInputConfig_(config.audioInputConfig.value_or(AudioInputConfig{})),
      audioProcessor_(config.audioProcessor ? config.audioProcessor : std::make_shared<AudioProcessor>()),
      featureExtractor_(config.featureExtractor ? config.featureExtractor
                                                : std::make_shared<FeatureExtractor>()),
      audioEncoder_(config.audioEncoder ? config.audioEncoder : std::make_shared<AudioEncoder>()),
      textDecoder_(config.textDecoder ? config.textDecoder : std::make_shared<TextDecoder>()),
      segmentSeeker_(config.segmentSeeker ? config.segmentSeeker : std::make_shared<SegmentSeeker>()),
      voiceActivityDetector_(config.voiceActivityDetector),
      tokenizerFolder_(config.tokenizerFolder ? config.tokenizerFolder : config.downloadBase),
      useBackgroundDownloadSession_(config.useBackgroundDownloadSession),
      endpoint_(config.modelEndpoint.value_or(std::string(Constants::defaultRemoteEndpoint))),
      clock_(&velnote::platform::SystemClock::shared()) {
    if (config.logitsFilters)
        textDecoder_.get()->setLogitsFilters(*config.logitsFilters);
    Logging::shared().setLogLevel(config.verbose ? config.logLevel : Logging::LogLevel::none);
}

Vocalith::~Vocalith() {
    if (const auto processor = audioProcessor())
        processor->stopRecording();
}

void Vocalith::setUp(const VocalithConfig& config) {
    setupModels(config.model, config.downloadBase, config.modelRepo, config.modelToken, config.modelFolder,
                config.download, std::string(Constants::defaultRemoteConfigName), endpoint_);
    if (config.prewarm.value_or(false)) {
        Logging::info("Prewarming models...");
        prewarmModels();
    }
    // A folder that set-up downloaded does not count: only a folder the caller named loads by itself.
    if (config.load.value_or(config.modelFolder.has_value())) {
        Logging::info("Loading models...");
        loadModels(false);
    }
}

void Vocalith::setupModels(const std::optional<std::string>& model,
                           const std::optional<std::filesystem::path>& downloadBase,
                           const std::optional<std::string>& modelRepo,
                           const std::optional<std::string>& modelToken,
                           const std::optional<std::string>& modelFolder, bool download,
                           const std::string& remoteConfigName, const std::string& endpoint) {
    if (modelFolder) {
        setModelFolder(std::filesystem::path(*modelFolder));
        return;
    }
    if (!download)
        return;
    const std::string repo = modelRepo.value_or(kDefaultModelRepo);
    const std::string variant =
        model ? *model
              : fetchModelSupportConfig(repo, downloadBase, modelToken, remoteConfigName, endpoint)
                    .modelSupport(deviceName())
                    .defaultModel();
    try {
        setModelFolder(Vocalith::download(variant, downloadBase, useBackgroundDownloadSession(), repo,
                                          modelToken, endpoint, {}));
    } catch (const std::exception& error) {
        throw WhisperError::modelsUnavailable(
            "Model not found. Please check the model or repo name and try again.\nError: " +
            std::string(error.what()));
    }
}

// --- Stored state ---

ModelVariant Vocalith::modelVariant() const {
    return modelVariant_.get();
}

void Vocalith::setModelVariant(ModelVariant variant) {
    modelVariant_.set(variant);
}

ModelState Vocalith::modelState() const {
    return modelState_.get();
}

void Vocalith::setModelState(ModelState state) {
    ModelState previous;
    modelState_.modify([&](ModelState& current) { previous = std::exchange(current, state); });
    if (const auto callback = modelStateCallback_.get())
        callback(previous, state);
}

ModelComputeOptions Vocalith::modelCompute() const {
    return modelCompute_.get();
}

void Vocalith::setModelCompute(const ModelComputeOptions& compute) {
    modelCompute_.set(compute);
}

AudioInputConfig Vocalith::audioInputConfig() const {
    return audioInputConfig_.get();
}

void Vocalith::setAudioInputConfig(const AudioInputConfig& config) {
    audioInputConfig_.set(config);
}

std::shared_ptr<const WhisperTokenizer> Vocalith::tokenizer() const {
    return tokenizer_.get();
}

void Vocalith::setTokenizer(std::shared_ptr<const WhisperTokenizer> tokenizer) {
    tokenizer_.set(tokenizer);
    if (const auto decoder = textDecoder_.get())
        decoder->setTokenizer(std::move(tokenizer));
}

std::shared_ptr<AudioProcessing> Vocalith::audioProcessor() const {
    return audioProcessor_.get();
}

void Vocalith::setAudioProcessor(std::shared_ptr<AudioProcessing> processor) {
    audioProcessor_.set(std::move(processor));
}

std::shared_ptr<FeatureExtracting> Vocalith::featureExtractor() const {
    return featureExtractor_.get();
}

void Vocalith::setFeatureExtractor(std::shared_ptr<FeatureExtracting> extractor) {
    featureExtractor_.set(std::move(extractor));
}

std::shared_ptr<AudioEncoding> Vocalith::audioEncoder() const {
    return audioEncoder_.get();
}

void Vocalith::setAudioEncoder(std::shared_ptr<AudioEncoding> encoder) {
    audioEncoder_.set(std::move(encoder));
}

std::shared_ptr<TextDecoding> Vocalith::textDecoder() const {
    return textDecoder_.get();
}

void Vocalith::setTextDecoder(std::shared_ptr<TextDecoding> decoder) {
    textDecoder_.set(std::move(decoder));
}

std::shared_ptr<SegmentSeeking> Vocalith::segmentSeeker() const {
    return segmentSeeker_.get();
}

void Vocalith::setSegmentSeeker(std::shared_ptr<SegmentSeeking> seeker) {
    segmentSeeker_.set(std::move(seeker));
}

std::shared_ptr<VoiceActivityDetector> Vocalith::voiceActivityDetector() const {
    return voiceActivityDetector_.get();
}

void Vocalith::setVoiceActivityDetector(std::shared_ptr<VoiceActivityDetector> detector) {
    voiceActivityDetector_.set(std::move(detector));
}

TranscriptionTimings Vocalith::currentTimings() const {
    return currentTimings_.get();
}

void Vocalith::setCurrentTimings(const TranscriptionTimings& timings) {
    currentTimings_.set(timings);
}

void Vocalith::modifyTimings(const std::function<void(TranscriptionTimings&)>& change) {
    currentTimings_.modify(change);
}

std::shared_ptr<velnote::platform::Progress> Vocalith::progress() const {
    return progress_.get();
}

void Vocalith::resetProgress() {
    progress_.set(velnote::platform::Progress::make());
}

std::optional<std::filesystem::path> Vocalith::modelFolder() const {
    return modelFolder_.get();
}

void Vocalith::setModelFolder(std::optional<std::filesystem::path> folder) {
    modelFolder_.set(std::move(folder));
}

std::optional<std::filesystem::path> Vocalith::tokenizerFolder() const {
    return tokenizerFolder_.get();
}

void Vocalith::setTokenizerFolder(std::optional<std::filesystem::path> folder) {
    tokenizerFolder_.set(std::move(folder));
}

bool Vocalith::useBackgroundDownloadSession() const {
    return useBackgroundDownloadSession_.get();
}

SegmentDiscoveryCallback Vocalith::segmentDiscoveryCallback() const {
    return segmentDiscoveryCallback_.get();
}

void Vocalith::setSegmentDiscoveryCallback(SegmentDiscoveryCallback callback) {
    segmentDiscoveryCallback_.set(std::move(callback));
}

ModelStateCallback Vocalith::modelStateCallback() const {
    return modelStateCallback_.get();
}

void Vocalith::setModelStateCallback(ModelStateCallback callback) {
    modelStateCallback_.set(std::move(callback));
}

TranscriptionStateCallback Vocalith::transcriptionStateCallback() const {
    return transcriptionStateCallback_.get();
}

void Vocalith::setTranscriptionStateCallback(TranscriptionStateCallback callback) {
    transcriptionStateCallback_.set(std::move(callback));
}

void Vocalith::setClock(const velnote::platform::Clock& clock) {
    clock_.set(&clock);
}

double Vocalith::now() const {
    return std::chrono::duration<double>(clock_.get()->now().time_since_epoch()).count();
}

} // namespace vocalith
