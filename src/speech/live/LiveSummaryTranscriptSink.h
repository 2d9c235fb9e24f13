#pragma once

#include <string>

namespace velnote {

// Where the live transcription hands the live summary its input: the summary's latest transcript
// text, from which each periodic live summary starts. The live summary implements it.
class LiveSummaryTranscriptSink {
  public:
    virtual ~LiveSummaryTranscriptSink() = default;

    // Replaces the latest transcript whole: the committed lines joined by "\n", at most their last
    // 24000 characters. Called after every committed line, in commit order, from the live
    // transcription's thread; the implementation applies the calls in that order (on its own
    // serial executor), so an older transcript never replaces a newer one. Returns at once.
    virtual void setLatestTranscript(std::string transcript) = 0;
};

} // namespace velnote
