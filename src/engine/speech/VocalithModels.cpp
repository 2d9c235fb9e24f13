// Loading, prewarming and unloading the engine's models, the tokenizer set-up, and language
// detection.

#include "engine/foundation/HubClient.h"
#include "engine/speech/TextFormat.h"
#include "engine/speech/Vocalith.h"
#include "engine/speech/WhisperError.h"
#include "engine/speech/audio/AudioProcessor.h"
#include "engine/speech/decoding/TextDecoder.h"
#include "engine/speech/models/AudioEncoder.h"
#include "engine/speech/models/FeatureExtractor.h"
#include "engine/speech/models/ModelUtilities.h"
#include "engine/speech/tokenizer/TokenizerLoader.h"

namespace vocalith {

using basalith::Logging;
using basalith::ModelState;

namespace {

// The vocabulary of the English-only models; every other size is multilingual.
constexpr std::int64_t kEnglishOnlyLogitsSize = 51864;
// Language detection reads this much of a file.
constexpr double kDetectionSeconds = 30;

std::string seconds(double value) {
    return cFormat("%.2f", value);
}

// Loads `component` when it is one of the engine's model wrappers; another implementation that a
// configuration supplied is left as it is.
template <class Component>
bool loadIfModel(const std::shared_ptr<Component>& component, const std::filesystem::path& location,
                 basalith::ComputeUnits units, bool prewarmMode) {
    auto* model = dynamic_cast<WhisperMLModel*>(component.get());
    if (model == nullptr)
        return false;
    model->loadModel(location, units, prewarmMode);
    return true;
}

template <class Component> void unloadIfModel(const std::shared_ptr<Component>& component) {
    if (auto* model = dynamic_cast<WhisperMLModel*>(component.get()))
        model->unloadModel();
}

} // namespace

void Vocalith::prewarmModels() {
    loadModels(true);
}

void Vocalith::loadModels(bool prewarmMode) {
    setModelState(prewarmMode ? ModelState::prewarming : ModelState::loading);
    const double start = now();
    const auto folder = modelFolder();
    if (!folder)
        throw WhisperError::modelsUnavailable("Model folder is not set.");
    Logging::debug("Loading models from", folder->string(), "with prewarmMode:", prewarmMode);

    const auto melUrl = ModelUtilities::detectModelURL(*folder, "MelSpectrogram");
    const auto encoderUrl = ModelUtilities::detectModelURL(*folder, "AudioEncoder");
    const auto decoderUrl = ModelUtilities::detectModelURL(*folder, "TextDecoder");
    const auto prefillUrl = ModelUtilities::detectModelURL(*folder, "TextDecoderContextPrefill");
    for (const auto& url : {melUrl, encoderUrl, decoderUrl}) {
        if (!std::filesystem::exists(url))
            throw WhisperError::modelsUnavailable("Model file not found at " + url.string());
    }

    const ModelComputeOptions compute = modelCompute();
    const auto extractor = featureExtractor();
    if (dynamic_cast<WhisperMLModel*>(extractor.get()) != nullptr) {
        Logging::debug("Loading feature extractor");
        loadIfModel(extractor, melUrl, compute.melCompute, prewarmMode);
        Logging::debug("Loaded feature extractor");
    }

    const auto decoder = textDecoder();
    if (std::filesystem::exists(prefillUrl)) {
        Logging::debug("Loading text decoder prefill data");
        decoder->setPrefillData(std::make_shared<TextDecoderContextPrefill>());
        if (const auto prefill = decoder->prefillData())
            prefill->loadModel(prefillUrl, compute.prefillCompute, prewarmMode);
        Logging::debug("Loaded text decoder prefill data");
    }

    if (dynamic_cast<WhisperMLModel*>(decoder.get()) != nullptr) {
        Logging::debug("Loading text decoder");
        const double decoderStart = now();
        loadIfModel(decoder, decoderUrl, compute.textDecoderCompute, prewarmMode);
        const double elapsed = now() - decoderStart;
        modifyTimings([&](TranscriptionTimings& timings) {
            (prewarmMode ? timings.decoderSpecializationTime : timings.decoderLoadTime) = elapsed;
        });
        Logging::debug("Loaded text decoder in " + seconds(elapsed) + "s");
    }

    const auto encoder = audioEncoder();
    if (dynamic_cast<WhisperMLModel*>(encoder.get()) != nullptr) {
        Logging::debug("Loading audio encoder");
        const double encoderStart = now();
        loadIfModel(encoder, encoderUrl, compute.audioEncoderCompute, prewarmMode);
        const double elapsed = now() - encoderStart;
        modifyTimings([&](TranscriptionTimings& timings) {
            (prewarmMode ? timings.encoderSpecializationTime : timings.encoderLoadTime) = elapsed;
        });
        Logging::debug("Loaded audio encoder in " + seconds(elapsed) + "s");
    }

    if (prewarmMode) {
        setModelState(ModelState::prewarmed);
        const double elapsed = now() - start;
        modifyTimings([&](TranscriptionTimings& timings) { timings.prewarmLoadTime = elapsed; });
        return;
    }
    loadTokenizerIfNeeded();
    setModelState(ModelState::loaded);
    const double elapsed = now() - start;
    double loading = 0;
    modifyTimings([&](TranscriptionTimings& timings) {
        timings.modelLoading = elapsed + timings.prewarmLoadTime;
        loading = timings.modelLoading;
    });
    Logging::info("Loaded models for whisper size: " + std::string(description(modelVariant())) + " in " +
                  seconds(loading) + "s");
}

void Vocalith::loadTokenizerIfNeeded() {
    if (tokenizer()) {
        Logging::debug("Tokenizer already exists on Vocalith, skipping load");
        return;
    }
    const auto decoder = textDecoder();
    const auto logitsSize = decoder->logitsSize();
    const auto encoderSize = audioEncoder()->embedSize();
    if (!logitsSize || !encoderSize)
        throw WhisperError::tokenizerUnavailable();
    decoder->setIsModelMultilingual(*logitsSize != kEnglishOnlyLogitsSize);
    const ModelVariant variant = ModelUtilities::detectVariant(*logitsSize, *encoderSize);
    setModelVariant(variant);
    Logging::debug("Loading tokenizer for", description(variant));
    const double start = now();

    std::vector<std::filesystem::path> searchPaths;
    if (const auto folder = modelFolder()) {
        searchPaths.push_back(*folder);
        const basalith::HubClient client(
            basalith::HubClientOptions{.downloadBase = *folder, .endpoint = endpoint_});
        searchPaths.push_back(client.localRepoLocation(ModelUtilities::tokenizerNameForVariant(variant)));
    }
    auto loaded = ModelUtilities::loadTokenizer(variant, tokenizerFolder(), searchPaths,
                                                useBackgroundDownloadSession(), endpoint_);
    const double elapsed = now() - start;
    modifyTimings([&](TranscriptionTimings& timings) { timings.tokenizerLoadTime = elapsed; });
    setTokenizer(std::move(loaded));
    Logging::debug("Loaded tokenizer in " + seconds(elapsed) + "s");
}

void Vocalith::unloadModels() {
    setModelState(ModelState::unloading);
    unloadIfModel(featureExtractor());
    unloadIfModel(audioEncoder());
    unloadIfModel(textDecoder());
    setModelState(ModelState::unloaded);
    Logging::info("Unloaded all models");
}

void Vocalith::clearState() {
    if (const auto processor = audioProcessor())
        processor->stopRecording();
    setCurrentTimings(TranscriptionTimings{});
}

void Vocalith::loggingCallback(basalith::Logging::Callback callback) {
    Logging::shared().setLoggingCallback(std::move(callback));
}

void Vocalith::loadModelsIfNeeded() {
    std::lock_guard gate(loadGate_);
    if (modelState() != ModelState::loaded)
        loadModels(false);
}

LanguageDetection Vocalith::detectLanguage(const std::string& audioPath) {
    if (!std::filesystem::exists(audioPath))
        throw WhisperError::loadAudioFailed("Resource path does not exist " + audioPath);
    PcmBuffer buffer = AudioProcessor::loadAudio(audioPath, SumChannels{}, 0.0, kDetectionSeconds);
    return detectLangauge(AudioProcessor::convertBufferToArray(buffer, 1024));
}

LanguageDetection Vocalith::detectLangauge(const std::vector<float>& audioArray) {
    loadModelsIfNeeded();
    const auto decoder = textDecoder();
    if (!decoder->isModelMultilingual())
        throw WhisperError::decodingFailed("Language detection not supported for this model");
    const auto words = tokenizer();
    if (!words)
        throw WhisperError::tokenizerUnavailable();
    DecodingOptions options;
    options.verbose = Logging::shared().logLevel() != Logging::LogLevel::none;
    const auto inputs = decoder->prepareDecoderInputs({words->specialTokens().startOfTranscriptToken});

    const auto audio = audioProcessor()->padOrTrim(audioArray, 0, windowSamples());
    if (!audio)
        throw WhisperError::transcriptionFailed("Audio samples are nil");
    const auto mel = featureExtractor()->logMelSpectrogram(*audio);
    if (!mel)
        throw WhisperError::transcriptionFailed("Mel output is nil");
    const auto encoded = audioEncoder()->encodeFeatures(*mel);
    if (!encoded)
        throw WhisperError::transcriptionFailed("Encoder output is nil");

    GreedyTokenSampler sampler(basalith::Float16(0), words->specialTokens().endToken, options);
    DecodingResult result;
    try {
        result = decoder->detectLanguage(*encoded, *inputs, sampler, options, basalith::Float16(0));
    } catch (const std::exception&) {
        // The decoder's own error says nothing more to the caller than that detection failed.
        throw WhisperError::decodingFailed("Language detection failed");
    }
    return {result.language, result.languageProbs};
}

std::int64_t Vocalith::windowSamples() const {
    return featureExtractor()->windowSamples().value_or(Constants::defaultWindowSamples);
}

} // namespace vocalith
