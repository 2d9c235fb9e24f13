#pragma once

#include "engine/foundation/MultiArray.h"
#include "engine/foundation/PropertyLock.h"
#include "engine/speech/audio/AudioConverter.h"
#include "engine/speech/audio/AudioFile.h"
#include "engine/speech/audio/AudioInputConfig.h"
#include "engine/speech/audio/AudioProcessing.h"
#include "engine/speech/audio/PcmBuffer.h"
#include "engine/speech/audio/VoiceActivityDetector.h"
#include "platform/image/RgbImage.h"

#include <cstdint>
#include <exception>
#include <future>
#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace velnote::platform {
class PulseClient;
class SerialExecutor;
} // namespace velnote::platform

namespace vocalith {

// For one path of a batch load: its samples, or the error that ended its load.
using AudioLoadOutcome = std::variant<std::vector<float>, std::exception_ptr>;

// An input device of the sound server; equal when id and name are.
struct AudioDevice {
    DeviceID id = 0;
    std::string name; // what people see; the source's name when it has no description
    bool operator==(const AudioDevice&) const = default;
};

// Measures of one captured buffer: relative energy (0...1), root mean square, largest and smallest
// magnitude.
struct AudioEnergy {
    float rel = 0;
    float avg = 0;
    float max = 0;
    float min = 0;
    bool operator==(const AudioEnergy&) const = default;
};

// Whether a conversion ends its stream (the converter's held-back frames are added and the
// converter starts afresh) or leaves it open for the next buffer.
enum class StreamEnd { open, finish };

// Turns audio files of any rate and channel count into the engine's working form (16 kHz mono
// float samples), cuts model windows out of sample arrays, and records from an input of the sound
// server (PulseAudio, or PipeWire's service of the same protocol).
//
// The file side is class-level and keeps no state: any thread may call it, several at once; an open
// file and a buffer belong to the one call that made them. Long files are read in pieces of at most
// 600 s, and each piece in reads of at most `maxReadFrameSize` frames, so memory stays bounded; one
// converter carries its state across all the pieces of one load, so no piece boundary is audible.
//
// The live side: the sound server delivers the source's own format on its event thread; each block
// is handed to the processor's audio thread, mixed to mono, gathered into buffers of minBufferLength
// frames (the rest follows when the stream ends), resampled to 16 kHz by one converter that runs
// across the whole recording, stored with its energy record and passed to the buffer callback
// there. Start, pause, resume and stop may be called from any thread (one at a time is kept by a
// lock); the stores are read from any thread under their own lock, as copies.
class AudioProcessor : public AudioProcessing {
  public:
    // Seconds of audio decoded per piece by loadAudioAsFloatArray.
    static constexpr double kPieceSeconds = 600;
    // Samples copied at a time out of a decoded piece.
    static constexpr int kCopyChunkSize = 1024;

    // The whole file, or the range startTime...endTime (seconds; the end clamped to the duration),
    // as 16 kHz mono samples; empty when the range is empty. Throws WhisperError::loadAudioFailed
    // ("Resource path does not exist <path>", a bad range, or a failed piece: nothing partial is
    // returned), and AudioFileError when the file cannot be opened as audio.
    static std::vector<float> loadAudioAsFloatArray(
        const std::string& path, const ChannelMode& channelMode = AudioInputConfig::SumChannels{},
        std::optional<double> startTime = 0.0, std::optional<double> endTime = std::nullopt);

    // The range as one 16 kHz mono buffer. A 16 kHz mono file is read as it is (the channel mode does
    // not matter then); any other is mixed with `channelMode` and resampled in reads of
    // `maxReadFrameSize` frames (Constants::defaultAudioReadFrameSize when absent). Start times below
    // 0 count as 0; an end before the start gives an empty buffer. Throws as loadAudioAsFloatArray,
    // and WhisperError::loadAudioFailed for a file longer than 2^32 - 1 frames.
    static PcmBuffer loadAudio(const std::string& path,
                               const ChannelMode& channelMode = AudioInputConfig::SumChannels{},
                               std::optional<double> startTime = 0.0,
                               std::optional<double> endTime = std::nullopt,
                               std::optional<std::uint32_t> maxReadFrameSize = std::nullopt);
    // The same on an open file. With `carried` (a converter from the file's rate, mono, to 16 kHz
    // mono) the range continues that converter's stream and its held-back frames stay in it for the
    // next range; the caller ends the stream. Without it the call converts the range as one stream.
    static PcmBuffer loadAudio(AudioFile& file, const ChannelMode& channelMode,
                               std::optional<double> startTime, std::optional<double> endTime,
                               std::optional<std::uint32_t> maxReadFrameSize,
                               AudioConverter* carried = nullptr);

    // Every path loaded whole (all channels summed by `channelMode`), concurrently, one outcome per
    // path in path order. Never throws: a path's failure is its outcome.
    static std::vector<AudioLoadOutcome> loadAudio(const std::vector<std::string>& paths,
                                                   const ChannelMode& channelMode);
    // loadAudio(path) with all channels summed, on a thread of its own; errors come from get().
    static std::future<PcmBuffer> loadAudioAsync(const std::string& path);

    // Reads `frameCount` frames (the rest of the file when absent) from the file's position and
    // converts them to `toSampleRate` with `channelCount` channels, `maxReadFrameSize` frames at a
    // time, each read mixed with `channelMode` first. `carried` as for loadAudio. Absent (with an
    // error line) when a format, the converter, a read or a conversion fails.
    static std::optional<PcmBuffer> resampleAudio(AudioFile& file, double toSampleRate,
                                                  std::uint32_t channelCount, const ChannelMode& channelMode,
                                                  std::optional<std::uint32_t> frameCount,
                                                  std::uint32_t maxReadFrameSize,
                                                  AudioConverter* carried = nullptr);
    // One buffer converted as a whole stream with a converter of its own. Absent (with an error
    // line) when the converter cannot be made (another channel count, say) or the conversion fails.
    static std::optional<PcmBuffer> resampleAudio(const PcmBuffer& buffer, double toSampleRate,
                                                  std::uint32_t channelCount);
    // `buffer` through `converter`. Ending the stream gives exactly the capacity rule's frames
    // (AudioConverter::outputFrameCount; a debug line when it rounds); an open stream gives the
    // frames ready so far. Throws WhisperError::audioProcessingFailed ("Failed to create converted
    // buffer", "Error converting audio: ...").
    static PcmBuffer resampleBuffer(const PcmBuffer& buffer, AudioConverter& converter,
                                    StreamEnd end = StreamEnd::finish);

    // One channel from several: `specificChannel(i)` copies channel i (channel 0 for an index the
    // buffer lacks); `sumChannels` adds the listed channels (all when the list is absent or empty;
    // indices out of range dropped, channel 0 when none is left) and scales the sum so that its peak
    // equals the loudest used channel's peak. A buffer with fewer than 2 channels comes back as it
    // is. Absent when the mono buffer cannot be made.
    static std::optional<PcmBuffer> convertToMono(const PcmBuffer& buffer, const ChannelMode& mode);

    // The first channel's filled frames as samples, copied `chunkSize` at a time (the whole length
    // at once when chunkSize is not above 0). The copied samples are cleared in the buffer.
    static std::vector<float> convertBufferToArray(PcmBuffer& buffer, int chunkSize);

    // A window of `toLength` samples from `startAt`, padded with zeros past the end of the array.
    // Absent with the error line "startIndex is outside the buffer size" when startAt is negative or
    // not below the count, and absent for a length not above 0. `saveSegment` has no effect.
    static std::optional<basalith::MultiArray> padOrTrimAudio(const std::vector<float>& audioArray,
                                                              std::int64_t startAt, std::int64_t toLength,
                                                              bool saveSegment = false);

    // --- Live side ---

    AudioProcessor();
    // Stops a running recording first. Not from the processor's own buffer callback.
    ~AudioProcessor() override;
    AudioProcessor(const AudioProcessor&) = delete;
    AudioProcessor& operator=(const AudioProcessor&) = delete;

    std::vector<float> audioSamples() const override;
    void purgeAudioSamples(std::int64_t keepingLast) override;
    std::vector<AudioEnergy> audioEnergy() const;
    std::vector<float> relativeEnergy() const override;
    int relativeEnergyWindow() const override;
    void setRelativeEnergyWindow(int window) override;
    AudioBufferCallback audioBufferCallback() const;
    void setAudioBufferCallback(AudioBufferCallback callback);
    // Frames per delivered buffer asked of the server (at its rate), and the cadence of the progress
    // debug line with relativeEnergyWindow.
    int minBufferLength() const;
    void setMinBufferLength(int frames);
    bool isInputSuppressed() const;
    // While set, every captured buffer is stored and measured as silence.
    void setInputSuppressed(bool suppressed);
    // Whether a capture is set up (running or paused).
    bool hasAudioEngine() const;

    // Throws velnote::platform::AudioServerError when the server cannot be reached or refuses the
    // stream; the stores are empty then. A device id the server does not know is logged and the
    // default input taken. A running recording is stopped first.
    void startRecordingLive(std::optional<DeviceID> inputDeviceID = std::nullopt,
                            AudioBufferCallback callback = {}) override;
    StreamingRecording
    startStreamingRecordingLive(std::optional<DeviceID> inputDeviceID = std::nullopt) override;
    // Ends the server's stream (nothing is captured while paused); the stores and the set-up stay.
    void pauseRecording() override;
    void stopRecording() override;
    void resumeRecordingLive(std::optional<DeviceID> inputDeviceID = std::nullopt,
                             AudioBufferCallback callback = {}) override;
    std::optional<AudioProcessorOutputType> padOrTrim(const std::vector<float>& audioArray,
                                                      std::int64_t startAt, std::int64_t toLength) override;

    // The server's inputs: every source that is not the monitor of an output, and the default
    // source whatever it is. Empty (with an error line) when the server cannot be asked.
    static std::vector<AudioDevice> getAudioDevices();
    // The sound server has no per-application record permission: access is granted, and a server
    // that refuses a stream says so when the recording starts.
    static bool requestRecordPermission();

    // Root mean square; 0 for no samples.
    static float calculateAverageEnergy(const std::vector<float>& samples);
    // Root mean square, largest and smallest magnitude (`rel` left 0); zeros for no samples.
    static AudioEnergy calculateEnergy(const std::vector<float>& samples);
    // Where the samples' level lies between the reference (0) and full scale (1), in decibels: the
    // reference is -60 dB without one; clamped to 0...1, and 0 when undefined.
    static float calculateRelativeEnergy(const std::vector<float>& samples, std::optional<float> relativeTo);
    // Voice in the newest `nextBufferInSeconds` of buffers (one relative energy per 0.1 s): any of
    // the first max(n - 10, 10) of the newest n energies strictly above the threshold.
    static bool isVoiceDetected(const std::vector<float>& energy, float nextBufferInSeconds,
                                float silenceThreshold);
    // The energy rule of the voice activity detector (see VoiceActivityDetector.h).
    static std::vector<bool> calculateVoiceActivityInChunks(const std::vector<float>& samples,
                                                            std::int64_t chunkCount,
                                                            std::int64_t frameLengthSamples,
                                                            std::int64_t frameOverlapSamples,
                                                            float energyThreshold);
    // The speech stretches the default energy detector finds.
    static std::vector<IndexRange> calculateNonSilentChunks(const std::vector<float>& samples);

    // A waveform picture of the samples: each column shows the range of the samples that fall in it
    // (the nearest sample when there are fewer samples than columns), dark on white, centred. Absent
    // for a size that is not positive or larger than 16384 pixels a side.
    static std::optional<velnote::platform::RgbImage> createWaveformImage(const std::vector<float>& audio,
                                                                          double width, double height);

  protected:
    // Stores one buffer of 16 kHz samples with its energy record and hands it to the callback. Runs
    // on the audio thread.
    virtual void processBuffer(const std::vector<float>& samples);

  private:
    struct LiveEngine;
    // What the streaming form's end handler holds instead of the processor itself: the processor
    // clears `self` when it goes, so a stream that outlives it stops nothing.
    struct Lifetime {
        std::mutex mutex;
        AudioProcessor* self = nullptr;
    };

    std::shared_ptr<LiveEngine> setupEngine(std::optional<DeviceID> inputDeviceID);
    void openStream(const std::shared_ptr<LiveEngine>& engine);
    // Ends the engine's server stream and passes on what its converter still holds.
    void closeStream(const std::shared_ptr<LiveEngine>& engine);
    void onServerBuffer(LiveEngine& engine, std::vector<float>&& interleaved, std::uint32_t rate,
                        std::uint32_t channels);
    // One buffer of mono frames at `rate`: resampled to 16 kHz and processed.
    void processServerBlock(LiveEngine& engine, std::vector<float>&& samples, std::uint32_t rate);
    void stopLocked();

    std::shared_ptr<Lifetime> lifetime_;

    // Serialises start, pause, resume and stop.
    mutable std::mutex controlMutex_;
    // Under controlMutex_:
    std::optional<DeviceID> lastInputDevice_;
    std::shared_ptr<LiveEngine> audioEngine_;
    std::unique_ptr<velnote::platform::PulseClient> client_;

    // The stores and settings the audio thread shares with readers, each behind its own lock.
    basalith::PropertyLock<std::vector<float>> audioSamples_;
    basalith::PropertyLock<std::vector<AudioEnergy>> audioEnergy_;
    basalith::PropertyLock<int> relativeEnergyWindow_{20};
    basalith::PropertyLock<AudioBufferCallback> audioBufferCallback_;
    basalith::PropertyLock<int> minBufferLength_{1600};
    basalith::PropertyLock<bool> isInputSuppressed_{false};

    // The audio thread: converts and stores the server's blocks. Declared last: drains first.
    std::unique_ptr<velnote::platform::SerialExecutor> audioThread_;
};

} // namespace vocalith
