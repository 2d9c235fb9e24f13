#pragma once

#include "capture/controls/AudioMuteState.h"
#include "capture/controls/RecordingRuntimeSettings.h"
#include "capture/recording/AudioChunkSequence.h"
#include "capture/recording/CaptureChannel.h"
#include "capture/recording/InputLevelMeter.h"
#include "platform/audio/AudioFormat.h"
#include "platform/audio/StreamResampler.h"

#include <functional>
#include <memory>
#include <span>
#include <vector>

namespace velnote {

// What a capture does with every buffer the sound server delivers, in order: convert it to
// 16 kHz mono (one resampler per stream format, kept across buffers), publish the meter level of
// every third buffer (before gain), apply the live gain (clipped to full scale), hand it to the
// live transcription unless the channel is muted, and write it into the chunks (silence while
// muted). Gain and mute are read once per buffer.
//
// Not thread-safe: one per capture, used on the capture's file-write queue only.
class CaptureBufferProcessor {
  public:
    using Feed = std::function<void(std::span<const float> samples, const platform::AudioFormat& format)>;
    using LevelHandler = std::function<void(float level)>;

    CaptureBufferProcessor(CaptureChannel channel, RecordingRuntimeSettings& gains, AudioMuteState& mutes,
                           std::unique_ptr<AudioChunkSequence> chunks, LevelHandler publishLevel);

    // The live-transcription feed, called on the file-write queue with each unmuted buffer after
    // gain. Set before the first buffer.
    void setFeed(Feed feed) { feed_ = std::move(feed); }

    // One delivery of whole interleaved frames in `format`.
    void process(std::vector<float> interleaved, const platform::AudioFormat& format);
    // The end of a stream: what the resampler still holds goes the same way, then the open chunk
    // is closed. The next delivery starts a new resampler.
    void finish();
    AudioChunkSequence& chunks() { return *chunks_; }

  private:
    void handle(std::vector<float> samples);

    CaptureChannel channel_;
    const CaptureTexts& texts_;
    RecordingRuntimeSettings& gains_;
    AudioMuteState& mutes_;
    std::unique_ptr<AudioChunkSequence> chunks_;
    LevelHandler publishLevel_;
    Feed feed_;
    InputLevelMeter meter_;
    std::unique_ptr<platform::StreamResampler> resampler_;
    bool conversionFailureLogged_ = false;
};

} // namespace velnote
