#pragma once

#include "platform/audio/AudioFormat.h"

#include <span>

namespace velnote {

// Where the captures' audio goes for the live transcript: the live-transcription service
// implements it, and the recording controller connects each capture's onAudioBuffer to the
// matching entry.
//
// Both entries may be called from any thread (a capture's file-write queue) and return at once:
// under the service's own lock the buffer goes to that channel's stream while a live session
// runs, and is dropped otherwise. The samples are only valid during the call.
class LiveTranscriptionFeed {
  public:
    virtual ~LiveTranscriptionFeed() = default;

    // The microphone's buffers: 16 kHz mono, after gain, never while the microphone is muted.
    virtual void yieldMicBuffer(std::span<const float> samples, const platform::AudioFormat& format) = 0;
    // The system audio's buffers: the same format and rules.
    virtual void yieldSysBuffer(std::span<const float> samples, const platform::AudioFormat& format) = 0;
};

} // namespace velnote
