#pragma once

#include "engine/foundation/MultiArray.h"
#include "engine/speech/audio/AudioSampleStream.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace vocalith {

// The window the audio side hands to the feature extractor.
using AudioProcessorOutputType = basalith::MultiArray;

// An input device: the sound server's index of a source. Absent means the default input.
using DeviceID = std::uint32_t;

// Called with every captured buffer of 16 kHz mono samples, on the recording's audio thread.
using AudioBufferCallback = std::function<void(const std::vector<float>& samples)>;

// A live recording's stream of buffers and its feeding end.
struct StreamingRecording {
    std::unique_ptr<AudioSampleStream> stream;
    std::shared_ptr<AudioSampleStream::Continuation> continuation;
};

// How the engine reaches live audio: the samples captured since the last start, their energies, and
// the recording's life cycle. AudioProcessor implements it on the sound server; a caller may hand
// the engine another. The file side (loading, resampling) is class-level in AudioProcessor: C++
// interfaces have no class-level requirements.
class AudioProcessing {
  public:
    virtual ~AudioProcessing() = default;

    // Every sample captured since the last start, 16 kHz mono (a copy).
    virtual std::vector<float> audioSamples() const = 0;
    // Drops all but the newest `keepingLast` samples; nothing when there are no more than that.
    virtual void purgeAudioSamples(std::int64_t keepingLast) = 0;
    // The relative energy (0...1) of every captured buffer, in order.
    virtual std::vector<float> relativeEnergy() const = 0;
    virtual int relativeEnergyWindow() const = 0;
    virtual void setRelativeEnergyWindow(int window) = 0;

    // Starts capturing from the device (the default input when absent) with fresh stores; each
    // buffer also goes to `callback`. Throws when the capture cannot start.
    virtual void startRecordingLive(std::optional<DeviceID> inputDeviceID = std::nullopt,
                                    AudioBufferCallback callback = {}) = 0;
    // The same, each buffer going into the returned stream; a failure to start finishes the stream
    // with the error instead of throwing. Ending the stream stops the recording.
    virtual StreamingRecording
    startStreamingRecordingLive(std::optional<DeviceID> inputDeviceID = std::nullopt) = 0;
    virtual void pauseRecording() = 0;
    virtual void stopRecording() = 0;
    // Capture again after a pause: the same device goes on, another one starts a new capture. A
    // callback, when given, replaces the current one. Throws when the capture cannot start.
    virtual void resumeRecordingLive(std::optional<DeviceID> inputDeviceID = std::nullopt,
                                     AudioBufferCallback callback = {}) = 0;

    // A window of `toLength` samples from `startAt`, zero-padded; absent when startAt is outside.
    virtual std::optional<AudioProcessorOutputType>
    padOrTrim(const std::vector<float>& audioArray, std::int64_t startAt, std::int64_t toLength) = 0;
};

} // namespace vocalith
