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
        textDecoder_->setLogitsFilters(*config.logitsFilters);
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
    std::lock_guard lock(mutex_);
    return modelVariant_;
}

void Vocalith::setModelVariant(ModelVariant variant) {
    std::lock_guard lock(mutex_);
    modelVariant_ = variant;
}

ModelState Vocalith::modelState() const {
    std::lock_guard lock(mutex_);
    return modelState_;
}

void Vocalith::setModelState(ModelState state) {
    ModelState previous;
    ModelStateCallback callback;
    {
        std::lock_guard lock(mutex_);
        previous = modelState_;
        modelState_ = state;
        callback = modelStateCallback_;
    }
    if (callback)
        callback(previous, state);
}

ModelComputeOptions Vocalith::modelCompute() const {
    std::lock_guard lock(mutex_);
    return modelCompute_;
}

void Vocalith::setModelCompute(const ModelComputeOptions& compute) {
    std::lock_guard lock(mutex_);
    modelCompute_ = compute;
}

AudioInputConfig Vocalith::audioInputConfig() const {
    std::lock_guard lock(mutex_);
    return audioInputConfig_;
}

void Vocalith::setAudioInputConfig(const AudioInputConfig& config) {
    std::lock_guard lock(mutex_);
    audioInputConfig_ = config;
}

std::shared_ptr<const WhisperTokenizer> Vocalith::tokenizer() const {
    std::lock_guard lock(mutex_);
    return tokenizer_;
}

void Vocalith::setTokenizer(std::shared_ptr<const WhisperTokenizer> tokenizer) {
    std::shared_ptr<TextDecoding> decoder;
    {
        std::lock_guard lock(mutex_);
        tokenizer_ = tokenizer;
        decoder = textDecoder_;
    }
    if (decoder)
        decoder->setTokenizer(std::move(tokenizer));
}

std::shared_ptr<AudioProcessing> Vocalith::audioProcessor() const {
    std::lock_guard lock(mutex_);
    return audioProcessor_;
}

void Vocalith::setAudioProcessor(std::shared_ptr<AudioProcessing> processor) {
    std::lock_guard lock(mutex_);
    audioProcessor_ = std::move(processor);
}

std::shared_ptr<FeatureExtracting> Vocalith::featureExtractor() const {
    std::lock_guard lock(mutex_);
    return featureExtractor_;
}

void Vocalith::setFeatureExtractor(std::shared_ptr<FeatureExtracting> extractor) {
    std::lock_guard lock(mutex_);
    featureExtractor_ = std::move(extractor);
}

std::shared_ptr<AudioEncoding> Vocalith::audioEncoder() const {
    std::lock_guard lock(mutex_);
    return audioEncoder_;
}

void Vocalith::setAudioEncoder(std::shared_ptr<AudioEncoding> encoder) {
    std::lock_guard lock(mutex_);
    audioEncoder_ = std::move(encoder);
}

std::shared_ptr<TextDecoding> Vocalith::textDecoder() const {
    std::lock_guard lock(mutex_);
    return textDecoder_;
}

void Vocalith::setTextDecoder(std::shared_ptr<TextDecoding> decoder) {
    std::lock_guard lock(mutex_);
    textDecoder_ = std::move(decoder);
}

std::shared_ptr<SegmentSeeking> Vocalith::segmentSeeker() const {
    std::lock_guard lock(mutex_);
    return segmentSeeker_;
}

void Vocalith::setSegmentSeeker(std::shared_ptr<SegmentSeeking> seeker) {
    std::lock_guard lock(mutex_);
    segmentSeeker_ = std::move(seeker);
}

std::shared_ptr<VoiceActivityDetector> Vocalith::voiceActivityDetector() const {
    std::lock_guard lock(mutex_);
    return voiceActivityDetector_;
}

void Vocalith::setVoiceActivityDetector(std::shared_ptr<VoiceActivityDetector> detector) {
    std::lock_guard lock(mutex_);
    voiceActivityDetector_ = std::move(detector);
}

TranscriptionTimings Vocalith::currentTimings() const {
    std::lock_guard lock(mutex_);
    return currentTimings_;
}

void Vocalith::setCurrentTimings(const TranscriptionTimings& timings) {
    std::lock_guard lock(mutex_);
    currentTimings_ = timings;
}

void Vocalith::modifyTimings(const std::function<void(TranscriptionTimings&)>& change) {
    std::lock_guard lock(mutex_);
    change(currentTimings_);
}

std::shared_ptr<velnote::platform::Progress> Vocalith::progress() const {
    std::lock_guard lock(mutex_);
    return progress_;
}

void Vocalith::resetProgress() {
    auto fresh = velnote::platform::Progress::make();
    std::lock_guard lock(mutex_);
    progress_ = std::move(fresh);
}

std::optional<std::filesystem::path> Vocalith::modelFolder() const {
    std::lock_guard lock(mutex_);
    return modelFolder_;
}

void Vocalith::setModelFolder(std::optional<std::filesystem::path> folder) {
    std::lock_guard lock(mutex_);
    modelFolder_ = std::move(folder);
}

std::optional<std::filesystem::path> Vocalith::tokenizerFolder() const {
    std::lock_guard lock(mutex_);
    return tokenizerFolder_;
}

void Vocalith::setTokenizerFolder(std::optional<std::filesystem::path> folder) {
    std::lock_guard lock(mutex_);
    tokenizerFolder_ = std::move(folder);
}

bool Vocalith::useBackgroundDownloadSession() const {
    std::lock_guard lock(mutex_);
    return useBackgroundDownloadSession_;
}

SegmentDiscoveryCallback Vocalith::segmentDiscoveryCallback() const {
    std::lock_guard lock(mutex_);
    return segmentDiscoveryCallback_;
}

void Vocalith::setSegmentDiscoveryCallback(SegmentDiscoveryCallback callback) {
    std::lock_guard lock(mutex_);
    segmentDiscoveryCallback_ = std::move(callback);
}

ModelStateCallback Vocalith::modelStateCallback() const {
    std::lock_guard lock(mutex_);
    return modelStateCallback_;
}

void Vocalith::setModelStateCallback(ModelStateCallback callback) {
    std::lock_guard lock(mutex_);
    modelStateCallback_ = std::move(callback);
}

TranscriptionStateCallback Vocalith::transcriptionStateCallback() const {
    std::lock_guard lock(mutex_);
    return transcriptionStateCallback_;
}

void Vocalith::setTranscriptionStateCallback(TranscriptionStateCallback callback) {
    std::lock_guard lock(mutex_);
    transcriptionStateCallback_ = std::move(callback);
}

void Vocalith::setClock(const velnote::platform::Clock& clock) {
    std::lock_guard lock(mutex_);
    clock_ = &clock;
}

double Vocalith::now() const {
    const velnote::platform::Clock* clock;
    {
        std::lock_guard lock(mutex_);
        clock = clock_;
    }
    return std::chrono::duration<double>(clock->now().time_since_epoch()).count();
}

} // namespace vocalith
