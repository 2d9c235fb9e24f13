#pragma once

#include "capture/recording/LiveTranscriptionFeed.h"

#include <filesystem>
#include <future>
#include <optional>
#include <string>

namespace velnote {

// The live transcription of a running recording: two channels ("mic" and "sys") that turn the
// captures' buffers into the live transcript in the session folder. A serialised service (an
// actor): the session operations post to its own executor and return a future that is ready when
// they have run; they never fail. The buffer entries of LiveTranscriptionFeed may be called from
// any thread at any time and drop the buffers while no session runs.
//
// The recording controller starts a session after the folder exists and stops it first thing at
// the end of the recording.
class LiveTranscriptionService : public LiveTranscriptionFeed {
  public:
    // Starts both channels writing into `sessionDir`; `language`: a language code, none for
    // automatic detection. Whether anything runs (permission, the live-transcription setting) is
    // the service's own decision.
    virtual std::future<void> startSession(const std::filesystem::path& sessionDir,
                                           std::optional<std::string> language) = 0;
    // Ends both channels, turns pending text into lines and rewrites the live transcript file.
    virtual std::future<void> stopSession() = 0;
};

} // namespace velnote
