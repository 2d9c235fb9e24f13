#pragma once

#include "engine/foundation/DownloadProgress.h"
#include "engine/foundation/Logging.h"
#include "engine/foundation/ModelState.h"
#include "engine/foundation/PropertyLock.h"
#include "engine/speech/Constants.h"
#include "engine/speech/DecodingOptions.h"
#include "engine/speech/VocalithConfig.h"
#include "engine/speech/audio/AudioInputConfig.h"
#include "engine/speech/decoding/TextDecoding.h"
#include "engine/speech/models/ModelSupport.h"
#include "engine/speech/models/ModelVariant.h"
#include "engine/speech/transcription/DecodingResult.h"
#include "engine/speech/transcription/TranscriptionProgress.h"
#include "engine/speech/transcription/TranscriptionResult.h"
#include "engine/speech/transcription/TranscriptionTimings.h"
#include "platform/concurrency/Progress.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

namespace velnote::platform {
class Clock;
}

namespace vocalith {

class TranscribeTask;

using SegmentDiscoveryCallback = std::function<void(const std::vector<TranscriptionSegment>&)>;
// (previous state, new state); the engine always passes a previous state.
using ModelStateCallback =
    std::function<void(std::optional<basalith::ModelState> previous, basalith::ModelState current)>;
using TranscriptionStateCallback = std::function<void(TranscriptionState)>;
// One entry per input: its results, or absent where its transcription failed.
using OptionalResultLists = std::vector<std::optional<std::vector<TranscriptionResultPtr>>>;

// The spoken language of the first window of some audio, as the text decoder detects it.
struct LanguageDetection {
    std::string language;
    std::map<std::string, float> langProbs; // language code → probability
};

// The speech engine: its components, the tokenizer once loaded, the model folder, the timing record
// and the callbacks through which it reports its state. Built by `create`, which also finds or
// downloads the model folder and prewarms and loads the models as the configuration asks.
//
// Every operation blocks its caller; none starts a thread of its own except the batched
// transcription, which runs each input of a batch on a thread and joins them before going on.
// Those threads read the components, the tokenizer and the callbacks at the same time; every
// property therefore sits behind its own lock (copies out, replacements in), and a
// transcription that finds the models unloaded loads them once for everyone waiting. Callbacks
// are called on whatever thread does the work, never under the engine's lock.
//
// A derived engine may replace any operation: each operation reaches the later ones through
// virtual calls. Construct derived engines through `create<Derived>` so that set-up runs with
// their overrides in place.
class Vocalith {
  public:
    static constexpr int sampleRate = 16000; // samples per second
    static constexpr int hopLength = 160;    // samples between successive mel frames
    static constexpr float secondsPerTimeToken = 0.02f;
    static constexpr const char* kDefaultModelRepo = "quorvaneinc/vocalith-coreml";

    // Steps that need no model: components (the configuration's own objects, shared, or new
    // ones), compute units, tokenizer folder, the shared logger's level (the configured level when
    // `verbose`, else none). The model folder is left unset; use `create` for a working engine.
    explicit Vocalith(const VocalithConfig& config);
    // Stops the audio processor's recording first.
    virtual ~Vocalith();
    Vocalith(const Vocalith&) = delete;
    Vocalith& operator=(const Vocalith&) = delete;

    // The whole construction: the engine, `setupModels` with the configuration's download fields
    // (remote configuration "config.json", the configured endpoint or the hub's default), then
    // `prewarmModels` when `prewarm` is true, then `loadModels` when `load` says so (absent: only
    // when the configuration names a model folder). Throws the first failure; no engine then.
    template <class Engine = Vocalith, class... Arguments>
    static std::shared_ptr<Engine> create(const VocalithConfig& config, Arguments&&... arguments) {
        auto engine = std::make_shared<Engine>(config, std::forward<Arguments>(arguments)...);
        engine->setUp(config);
        return engine;
    }

    // --- Stored state ---

    ModelVariant modelVariant() const;
    basalith::ModelState modelState() const;
    ModelComputeOptions modelCompute() const;
    void setModelCompute(const ModelComputeOptions& compute);
    AudioInputConfig audioInputConfig() const;
    void setAudioInputConfig(const AudioInputConfig& config);
    std::shared_ptr<const WhisperTokenizer> tokenizer() const;
    // Also hands the tokenizer (or its absence) to the text decoder.
    void setTokenizer(std::shared_ptr<const WhisperTokenizer> tokenizer);
    std::shared_ptr<AudioProcessing> audioProcessor() const;
    void setAudioProcessor(std::shared_ptr<AudioProcessing> processor);
    std::shared_ptr<FeatureExtracting> featureExtractor() const;
    void setFeatureExtractor(std::shared_ptr<FeatureExtracting> extractor);
    std::shared_ptr<AudioEncoding> audioEncoder() const;
    void setAudioEncoder(std::shared_ptr<AudioEncoding> encoder);
    std::shared_ptr<TextDecoding> textDecoder() const;
    void setTextDecoder(std::shared_ptr<TextDecoding> decoder);
    std::shared_ptr<SegmentSeeking> segmentSeeker() const;
    void setSegmentSeeker(std::shared_ptr<SegmentSeeking> seeker);
    std::shared_ptr<VoiceActivityDetector> voiceActivityDetector() const;
    void setVoiceActivityDetector(std::shared_ptr<VoiceActivityDetector> detector);
    TranscriptionTimings currentTimings() const;
    // The progress of the transcriptions running now: each task adds a child of one unit. Replaced
    // by a fresh object once it is finished, and when a task is cancelled.
    std::shared_ptr<velnote::platform::Progress> progress() const;
    std::optional<std::filesystem::path> modelFolder() const;
    void setModelFolder(std::optional<std::filesystem::path> folder);
    std::optional<std::filesystem::path> tokenizerFolder() const;
    void setTokenizerFolder(std::optional<std::filesystem::path> folder);
    bool useBackgroundDownloadSession() const;
    SegmentDiscoveryCallback segmentDiscoveryCallback() const;
    void setSegmentDiscoveryCallback(SegmentDiscoveryCallback callback);
    ModelStateCallback modelStateCallback() const;
    void setModelStateCallback(ModelStateCallback callback);
    TranscriptionStateCallback transcriptionStateCallback() const;
    void setTranscriptionStateCallback(TranscriptionStateCallback callback);

    // The clock every duration is read from; the system's unless a test sets another. It must
    // outlive the engine.
    void setClock(const velnote::platform::Clock& clock);

    // --- Model folder ---

    // A given `modelFolder` is taken as it is, unchecked. Otherwise, with `download`, the variant
    // (`model`, else the device's default in the repository's model-support configuration) is
    // downloaded and its folder taken. Throws WhisperError::modelsUnavailable ("Model not found.
    // Please check the model or repo name and try again.\nError: <the download's error>").
    virtual void setupModels(const std::optional<std::string>& model,
                             const std::optional<std::filesystem::path>& downloadBase,
                             const std::optional<std::string>& modelRepo,
                             const std::optional<std::string>& modelToken,
                             const std::optional<std::string>& modelFolder, bool download,
                             const std::string& remoteConfigName, const std::string& endpoint);

    // --- Models (VocalithModels.cpp) ---

    // loadModels in prewarm mode: every model loaded once and let go; the tokenizer is not touched.
    virtual void prewarmModels();
    // The mel, encoder and text-decoder models (and the context prefill when the folder has one)
    // from the model folder, then the tokenizer. Throws WhisperError::modelsUnavailable ("Model
    // folder is not set.", "Model file not found at <path>"), the runtime's ModelError, or the
    // tokenizer's error; the state then stays `loading` (`prewarming`).
    virtual void loadModels(bool prewarmMode = false);
    // Once per engine: tells the variant from the loaded models' sizes and loads its tokenizer
    // (model folder, then the hub cache, then the hub). Throws WhisperError::tokenizerUnavailable
    // without model sizes, or the tokenizer loader's error.
    virtual void loadTokenizerIfNeeded();
    virtual void unloadModels();
    // Stops the audio processor's recording and resets the timing record.
    virtual void clearState();
    // Every log line of both engines in this process goes to `callback` from now on; an empty
    // function restores the system log.
    virtual void loggingCallback(basalith::Logging::Callback callback);
    // The language spoken in the first 30 s of a file (channels summed). Throws
    // WhisperError::loadAudioFailed for a missing file, and as detectLangauge.
    virtual LanguageDetection detectLanguage(const std::string& audioPath);
    // The language spoken in the first window of the samples (loading the models first when
    // needed). Throws WhisperError: decodingFailed ("Language detection not supported for this
    // model", "Language detection failed"), tokenizerUnavailable, transcriptionFailed.
    virtual LanguageDetection detectLangauge(const std::vector<float>& audioArray);

    // --- Transcription (VocalithTranscription.cpp) ---
    // Cancellation: a stop request on `stop` ends the running windows with CancellationError.

    // One entry per path: its results, or absent where loading or transcribing it failed.
    virtual OptionalResultLists transcribe(const std::vector<std::string>& audioPaths,
                                           const std::optional<DecodingOptions>& decodeOptions = {},
                                           const ProgressCallback& callback = {},
                                           const std::stop_token& stop = {});
    // One outcome per path, in path order: a load error in place of a file that cannot be read.
    virtual std::vector<TranscriptionOutcome>
    transcribeWithResults(const std::vector<std::string>& audioPaths,
                          const std::optional<DecodingOptions>& decodeOptions = {},
                          const ProgressCallback& callback = {}, const std::stop_token& stop = {});
    virtual OptionalResultLists transcribe(const std::vector<std::vector<float>>& audioArrays,
                                           const std::optional<DecodingOptions>& decodeOptions = {},
                                           const ProgressCallback& callback = {},
                                           const std::stop_token& stop = {});
    virtual std::vector<TranscriptionOutcome>
    transcribeWithResults(const std::vector<std::vector<float>>& audioArrays,
                          const std::optional<DecodingOptions>& decodeOptions = {},
                          const ProgressCallback& callback = {}, const std::stop_token& stop = {});
    // Each array with its own options (and, when given, its offset in samples within a longer
    // recording, added to the `seek` of the segments it reports), in batches of the largest
    // worker count among the options (0: one batch; below 0: one array at a time). The arrays of
    // a batch run at once; outcomes come back in input order. Mismatched counts give one error
    // outcome and transcribe nothing.
    virtual std::vector<TranscriptionOutcome>
    transcribeWithOptions(const std::vector<std::vector<float>>& audioArrays,
                          const std::vector<std::optional<DecodingOptions>>& decodeOptionsArray,
                          const std::optional<std::vector<std::int64_t>>& seekOffsets = std::nullopt,
                          const ProgressCallback& callback = {}, const std::stop_token& stop = {});
    // The first result of transcribe(audioPath), or null when there is none.
    virtual TranscriptionResultPtr transcribeFirst(const std::string& audioPath,
                                                   const std::optional<DecodingOptions>& decodeOptions = {},
                                                   const ProgressCallback& callback = {},
                                                   const std::stop_token& stop = {});
    // Loads the file (audioInputConfig's channel mode) and transcribes it, reporting converting,
    // transcribing and finished. Throws the load or transcription error.
    virtual std::vector<TranscriptionResultPtr>
    transcribe(const std::string& audioPath, const std::optional<DecodingOptions>& decodeOptions = {},
               const ProgressCallback& callback = {}, const std::stop_token& stop = {});
    // The first result of transcribe(audioArray), or null when there is none.
    virtual TranscriptionResultPtr transcribeFirst(const std::vector<float>& audioArray,
                                                   const std::optional<DecodingOptions>& decodeOptions = {},
                                                   const ProgressCallback& callback = {},
                                                   const std::stop_token& stop = {});
    // The main entry. Audio longer than one window whose options choose VAD chunking is cut at
    // silences, the chunks transcribed in batches, and their results moved onto the whole
    // recording's time line (one result per chunk that succeeded; the failures are logged). When
    // every chunk fails, the first chunk's error is thrown. Anything else is one task over the
    // whole array. Throws the task's, the loader's or the chunker's error.
    virtual std::vector<TranscriptionResultPtr>
    transcribe(const std::vector<float>& audioArray, const std::optional<DecodingOptions>& decodeOptions = {},
               const ProgressCallback& callback = {}, const SegmentDiscoveryCallback& segmentCallback = {},
               const std::stop_token& stop = {});
    // Makes the task of one run; the place where a derived engine supplies another task.
    virtual std::shared_ptr<TranscribeTask> setupTranscribeTask(
        const TranscriptionTimings& currentTimings, std::shared_ptr<velnote::platform::Progress> progress,
        std::shared_ptr<AudioProcessing> audioProcessor, std::shared_ptr<AudioEncoding> audioEncoder,
        std::shared_ptr<FeatureExtracting> featureExtractor, std::shared_ptr<SegmentSeeking> segmentSeeker,
        std::shared_ptr<TextDecoding> textDecoder, std::shared_ptr<const WhisperTokenizer> tokenizer);
    // One task over the array (loading the models first when they are not loaded). Throws
    // WhisperError::tokenizerUnavailable, CancellationError, or the task's error.
    virtual std::vector<TranscriptionResultPtr>
    runTranscribeTask(const std::vector<float>& audioArray,
                      const std::optional<DecodingOptions>& decodeOptions, const ProgressCallback& callback,
                      const SegmentDiscoveryCallback& segmentCallback, const std::stop_token& stop = {});

    // --- Class-level: what the device and the model repository offer (VocalithDiscovery.cpp) ---

    // This device's models from the built-in table; no network.
    static ModelSupport recommendedModels();
    // This device's models from the repository's model-support configuration (or the built-in
    // table when it has none or it cannot be read). Never throws.
    static ModelSupport recommendedRemoteModels(
        const std::string& repo = kDefaultModelRepo,
        const std::optional<std::filesystem::path>& downloadBase = {},
        const std::optional<std::string>& token = {},
        const std::string& remoteConfigName = std::string(Constants::defaultRemoteConfigName),
        const std::string& endpoint = std::string(Constants::defaultRemoteEndpoint));
    // The repository's "config.json" (or the file matching `remoteConfigName`); the built-in table
    // when there is none or it cannot be fetched, read or decoded (logged at error level).
    static ModelSupportConfig fetchModelSupportConfig(
        const std::string& repo = kDefaultModelRepo,
        const std::optional<std::filesystem::path>& downloadBase = {},
        const std::optional<std::string>& token = {},
        const std::string& remoteConfigName = std::string(Constants::defaultRemoteConfigName),
        const std::string& endpoint = std::string(Constants::defaultRemoteEndpoint));
    // The folders this device supports that match any of the globs, ordered by variant.
    static std::vector<std::string> fetchAvailableModels(
        const std::string& repo = kDefaultModelRepo, const std::vector<std::string>& matching = {"*"},
        const std::optional<std::filesystem::path>& downloadBase = {},
        const std::optional<std::string>& token = {},
        const std::string& remoteConfigName = std::string(Constants::defaultRemoteConfigName),
        const std::string& endpoint = std::string(Constants::defaultRemoteEndpoint));
    // Downloads the one folder of the repository matching "*<variant>/*" (else
    // "*openai*<variant>/*") into the hub cache and returns its local location. Throws
    // WhisperError::modelsUnavailable when no folder or several match, or the hub client's error.
    static std::filesystem::path
    download(const std::string& variant, const std::optional<std::filesystem::path>& downloadBase = {},
             bool useBackgroundSession = false, const std::string& repo = kDefaultModelRepo,
             const std::optional<std::string>& token = {},
             const std::string& endpoint = std::string(Constants::defaultRemoteEndpoint),
             const basalith::ProgressCallback& progressCallback = {});
    // The machine's hardware model name.
    static std::string deviceName();

  protected:
    // Model folder, prewarm and load as `create` describes.
    void setUp(const VocalithConfig& config);

    // Stores the state, then calls the model-state callback with the previous and the new one.
    void setModelState(basalith::ModelState state);
    void setModelVariant(ModelVariant variant);
    void modifyTimings(const std::function<void(TranscriptionTimings&)>& change);
    void setCurrentTimings(const TranscriptionTimings& timings);
    // Replaces the progress object with a fresh one.
    void resetProgress();
    // Seconds on the engine's clock, for durations.
    double now() const;

  private:
    // Loads the models unless they are loaded, once for every caller that arrives meanwhile.
    void loadModelsIfNeeded();
    std::vector<float> loadAudioFile(const std::string& audioPath);
    std::vector<TranscriptionResultPtr> transcribeInChunks(const std::vector<float>& audioArray,
                                                           std::int64_t windowSamples,
                                                           const DecodingOptions& decodeOptions,
                                                           const ProgressCallback& callback,
                                                           const std::stop_token& stop);
    TranscriptionOutcome transcribeOne(std::size_t index, const std::vector<float>& audioArray,
                                       const std::optional<DecodingOptions>& options,
                                       const std::optional<std::vector<std::int64_t>>& seekOffsets,
                                       const ProgressCallback& callback, const std::stop_token& stop);
    void reportState(TranscriptionState state) const;
    std::int64_t windowSamples() const;

    // Each property behind its own lock: copies out, replacements in.
    basalith::PropertyLock<ModelVariant> modelVariant_{ModelVariant::tiny};
    basalith::PropertyLock<basalith::ModelState> modelState_{basalith::ModelState::unloaded};
    basalith::PropertyLock<ModelComputeOptions> modelCompute_;
    basalith::PropertyLock<AudioInputConfig> audioInputConfig_;
    basalith::PropertyLock<std::shared_ptr<const WhisperTokenizer>> tokenizer_;
    basalith::PropertyLock<std::shared_ptr<AudioProcessing>> audioProcessor_;
    basalith::PropertyLock<std::shared_ptr<FeatureExtracting>> featureExtractor_;
    basalith::PropertyLock<std::shared_ptr<AudioEncoding>> audioEncoder_;
    basalith::PropertyLock<std::shared_ptr<TextDecoding>> textDecoder_;
    basalith::PropertyLock<std::shared_ptr<SegmentSeeking>> segmentSeeker_;
    basalith::PropertyLock<std::shared_ptr<VoiceActivityDetector>> voiceActivityDetector_;
    basalith::PropertyLock<TranscriptionTimings> currentTimings_;
    basalith::PropertyLock<std::shared_ptr<velnote::platform::Progress>> progress_{
        velnote::platform::Progress::make()};
    basalith::PropertyLock<std::optional<std::filesystem::path>> modelFolder_;
    basalith::PropertyLock<std::optional<std::filesystem::path>> tokenizerFolder_;
    basalith::PropertyLock<bool> useBackgroundDownloadSession_;
    // The hub the models came from; the tokenizer is fetched from the same one. Set once.
    const std::string endpoint_;
    basalith::PropertyLock<SegmentDiscoveryCallback> segmentDiscoveryCallback_;
    basalith::PropertyLock<ModelStateCallback> modelStateCallback_;
    basalith::PropertyLock<TranscriptionStateCallback> transcriptionStateCallback_;
    basalith::PropertyLock<const velnote::platform::Clock*> clock_;
    // Held while a caller checks the state and loads: concurrent transcriptions of an unloaded
    // engine load it once.
    std::mutex loadGate_;
};

} // namespace vocalith
