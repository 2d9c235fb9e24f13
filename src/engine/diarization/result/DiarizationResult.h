#pragma once

#include "engine/diarization/config/DiarizationTimings.h"
#include "engine/diarization/result/SpeakerInfoStrategy.h"
#include "engine/diarization/result/SpeakerSegment.h"
#include "engine/speech/transcription/TranscriptionResult.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace diarith {

// What one diarization hands back: the speaker × frame activity matrix, the speaker turns derived
// from it and the run's timing report. A plain value; copies share nothing but the immutable
// timing report.
//
// Frame f covers f / frameRate seconds onward; a turn is the half-open frame range [start, end).
class DiarizationResult {
  public:
    // Row i is speaker i, column f frame f; a cell is active only when it is 1.
    using BinaryMatrix = std::vector<std::vector<std::int64_t>>;

    // Derives the turns with no joining (updateSegments(0)).
    DiarizationResult(BinaryMatrix binaryMatrix, float diarizationFrameRate);
    // From ready-made turns; the matrix stays empty.
    DiarizationResult(std::int64_t speakerCount, std::int64_t totalFrames, float frameRate,
                      std::vector<SpeakerSegment> segments,
                      std::shared_ptr<const DiarizationTimings> timings);

    const BinaryMatrix& binaryMatrix() const { return binaryMatrix_; }
    std::int64_t speakerCount() const { return speakerCount_; }
    std::int64_t totalFrames() const { return totalFrames_; } // length of the first row
    float frameRate() const { return frameRate_; }
    // Ascending by start frame.
    const std::vector<SpeakerSegment>& segments() const { return segments_; }
    const std::shared_ptr<const DiarizationTimings>& timings() const { return timings_; }
    void setTimings(std::shared_ptr<const DiarizationTimings> timings) { timings_ = std::move(timings); }

    // Rebuilds the turns from the matrix, joining one speaker's turns separated by at most
    // minActiveOffset seconds (a gap of offset × frameRate frames, truncated). Without a matrix the
    // turns stay as they are. Throws DiarithError::invalidConfiguration when offset × frameRate is
    // not finite or leaves the 64-bit range.
    void updateSegments(float minActiveOffset);

    // Lays the turns over the segments of each transcription result: one list of segments with
    // speaker words per result, in order. `segment` matches whole segments by intersection over
    // union; `subsegment` matches groups of words split at longer pauses by overlap. Segments
    // without words are skipped with an info line; a null result gives an empty list.
    std::vector<std::vector<SpeakerSegment>>
    addSpeakerInfo(const std::vector<vocalith::TranscriptionResultPtr>& transcription,
                   const SpeakerInfoStrategy& strategy) const;

  private:
    enum class SegmentMatchingMode { intersectionOverUnion, overlap };

    std::optional<SpeakerInfo> findSpeakerForSegment(const vocalith::TranscriptionSegment& segment,
                                                     SegmentMatchingMode matchingMode) const;
    std::vector<SpeakerSegment>
    processSegmentsWithMatchingMode(const std::vector<vocalith::TranscriptionSegment>& segments,
                                    SegmentMatchingMode matchingMode) const;

    BinaryMatrix binaryMatrix_;
    std::int64_t speakerCount_;
    std::int64_t totalFrames_;
    float frameRate_;
    std::vector<SpeakerSegment> segments_;
    std::shared_ptr<const DiarizationTimings> timings_;
};

} // namespace diarith
