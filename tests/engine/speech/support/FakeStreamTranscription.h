#pragma once

#include "engine/speech/WhisperError.h"
#include "engine/speech/audio/AudioProcessor.h"
#include "engine/speech/audio/AudioStreamTranscriber.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace vocalith::testing {

inline bool waitFor(const std::function<bool()>& condition,
                    std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// Segments one after another, the k-th ending at ends[k] seconds, each with its own text.
inline std::vector<TranscriptionSegment> segmentsEndingAt(const std::vector<float>& ends) {
    std::vector<TranscriptionSegment> segments;
    for (const float end : ends) {
        TranscriptionSegment segment;
        segment.start = end - 1;
        segment.end = end;
        segment.text = " up to " + std::to_string(static_cast<int>(end));
        segments.push_back(segment);
    }
    return segments;
}

inline std::vector<float> endsOf(const std::vector<TranscriptionSegment>& segments) {
    std::vector<float> ends;
    for (const auto& segment : segments)
        ends.push_back(segment.end);
    return ends;
}

// A live capture the test feeds by hand: samples and one relative energy per 0.1 s.
class FakeAudioProcessing : public AudioProcessing {
  public:
    // Appends `seconds` of samples at `energy` and reports one buffer.
    void add(double seconds, float energy) {
        AudioBufferCallback callback;
        {
            std::lock_guard lock(mutex_);
            const auto count = static_cast<std::size_t>(seconds * 16000);
            samples_.insert(samples_.end(), count, 0.1f);
            energies_.insert(energies_.end(), count / 1600, energy);
            callback = callback_;
        }
        if (callback)
            callback(std::vector<float>(1600, 0.1f));
    }
    int starts() const { return starts_; }
    int stops() const { return stops_; }
    std::atomic<bool> failStart{false};

    std::vector<float> audioSamples() const override {
        std::lock_guard lock(mutex_);
        return samples_;
    }
    void purgeAudioSamples(std::int64_t) override {}
    std::vector<float> relativeEnergy() const override {
        std::lock_guard lock(mutex_);
        return energies_;
    }
    int relativeEnergyWindow() const override { return 20; }
    void setRelativeEnergyWindow(int) override {}
    void startRecordingLive(std::optional<DeviceID>, AudioBufferCallback callback) override {
        if (failStart)
            throw WhisperError::microphoneUnavailable("No input device");
        std::lock_guard lock(mutex_);
        samples_.clear();
        energies_.clear();
        callback_ = std::move(callback);
        ++starts_;
    }
    StreamingRecording startStreamingRecordingLive(std::optional<DeviceID>) override { return {}; }
    void pauseRecording() override {}
    void stopRecording() override {
        std::lock_guard lock(mutex_);
        callback_ = {};
        ++stops_;
    }
    void resumeRecordingLive(std::optional<DeviceID>, AudioBufferCallback) override {}
    std::optional<AudioProcessorOutputType> padOrTrim(const std::vector<float>& array, std::int64_t startAt,
                                                      std::int64_t toLength) override {
        return AudioProcessor::padOrTrimAudio(array, startAt, toLength);
    }

  private:
    mutable std::mutex mutex_;
    std::vector<float> samples_;
    std::vector<float> energies_;
    AudioBufferCallback callback_;
    std::atomic<int> starts_{0};
    std::atomic<int> stops_{0};
};

// The engine's transcription task, scripted: pass k answers script[k] (the last entry once the
// script runs out), after sending `progress` reports; `failAt` passes throw.
class FakeTranscriptionTask : public StreamTranscriptionTask {
  public:
    std::vector<std::vector<TranscriptionSegment>> script;
    std::vector<TranscriptionProgress> progress;
    std::vector<std::size_t> failAt; // pass numbers from 1
    float ratio = 1.0f;

    TranscriptionResultPtr run(const std::vector<float>& audioArray, const DecodingOptions& options,
                               const ProgressCallback& callback) override {
        std::size_t pass = 0;
        {
            std::lock_guard lock(mutex_);
            sampleCounts_.push_back(audioArray.size());
            clipStarts_.push_back(options.clipTimestamps.empty() ? -1 : options.clipTimestamps.front());
            pass = sampleCounts_.size();
        }
        for (const auto& report : progress)
            callback(report);
        if (std::find(failAt.begin(), failAt.end(), pass) != failAt.end())
            throw WhisperError::transcriptionFailed("The decoder failed");
        const auto& segments =
            script.empty() ? std::vector<TranscriptionSegment>{} : script[std::min(pass, script.size()) - 1];
        return std::make_shared<TranscriptionResult>("", segments, "en", TranscriptionTimings{});
    }
    float compressionRatio(const std::vector<std::int64_t>&) const override { return ratio; }

    std::size_t calls() const {
        std::lock_guard lock(mutex_);
        return sampleCounts_.size();
    }
    std::vector<std::size_t> sampleCounts() const {
        std::lock_guard lock(mutex_);
        return sampleCounts_;
    }
    std::vector<float> clipStarts() const {
        std::lock_guard lock(mutex_);
        return clipStarts_;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::size_t> sampleCounts_;
    std::vector<float> clipStarts_;
};

} // namespace vocalith::testing
