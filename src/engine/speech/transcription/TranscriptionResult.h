#pragma once

#include "engine/foundation/PropertyLock.h"
#include "engine/speech/JsonCoding.h"
#include "engine/speech/transcription/TranscriptionSegment.h"
#include "engine/speech/transcription/TranscriptionTimings.h"
#include "engine/speech/transcription/WordTiming.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vocalith {

// What one transcription run hands back. Results are shared between threads (the engine's chunked
// path sets `segments` and `seekTime` after the run), so each field sits behind its own lock: a
// read returns a copy, a write replaces the value, and no lock is held while another is taken.
// Share one result through TranscriptionResultPtr; copying makes an independent result.
class TranscriptionResult {
  public:
    TranscriptionResult(std::string text, std::vector<TranscriptionSegment> segments, std::string language,
                        TranscriptionTimings timings, std::optional<float> seekTime = std::nullopt);
    TranscriptionResult(const TranscriptionResult& other);
    TranscriptionResult& operator=(const TranscriptionResult& other);
    virtual ~TranscriptionResult() = default;

    virtual std::string text() const { return text_.get(); }
    virtual void setText(std::string text) { text_.set(std::move(text)); }
    virtual std::vector<TranscriptionSegment> segments() const { return segments_.get(); }
    virtual void setSegments(std::vector<TranscriptionSegment> segments) {
        segments_.set(std::move(segments));
    }
    // Changes the segments in one hold of their lock, so overlapping changes are not lost.
    virtual void modifySegments(const std::function<void(std::vector<TranscriptionSegment>&)>& change) {
        segments_.modify(change);
    }
    virtual std::string language() const { return language_.get(); }
    virtual void setLanguage(std::string language) { language_.set(std::move(language)); }
    virtual TranscriptionTimings timings() const { return timings_.get(); }
    virtual void setTimings(TranscriptionTimings timings) { timings_.set(timings); }
    virtual void modifyTimings(const std::function<void(TranscriptionTimings&)>& change) {
        timings_.modify(change);
    }
    // Offset of this result's audio within a longer recording, in seconds.
    virtual std::optional<float> seekTime() const { return seekTime_.get(); }
    virtual void setSeekTime(std::optional<float> seekTime) { seekTime_.set(seekTime); }

    // The words of every segment in segment order; segments without words add nothing.
    std::vector<WordTiming> allWords() const;

    // One debug line per segment: "[Segment <position>] [<start> --> <end>] <text>".
    virtual void logSegments() const;
    // The timing report, one info-level message.
    virtual void logTimings() const;
    // The report's text as logTimings writes it.
    std::string timingReport() const;

  private:
    basalith::PropertyLock<std::string> text_;
    basalith::PropertyLock<std::vector<TranscriptionSegment>> segments_;
    basalith::PropertyLock<std::string> language_;
    basalith::PropertyLock<TranscriptionTimings> timings_;
    basalith::PropertyLock<std::optional<float>> seekTime_;
};

using TranscriptionResultPtr = std::shared_ptr<TranscriptionResult>;

// {"text", "segments", "language", "timings", "seekTime"}: all five required when reading, an absent
// seekTime written as null (and null read as absent). Each field is written under its own lock.
template <class J> void to_json(J& json, const TranscriptionResult& result);
TranscriptionResult transcriptionResultFromJson(const Json& json);

// The lock-free value form of a result, for users who want a plain record.
struct TranscriptionResultStruct {
    std::string text{};
    std::vector<TranscriptionSegment> segments{};
    std::string language{};
    TranscriptionTimings timings{};
    std::optional<float> seekTime{};
};

// As TranscriptionResult, except that an absent seekTime is left out and may be missing on reading.
template <class J> void to_json(J& json, const TranscriptionResultStruct& result);
void from_json(const Json& json, TranscriptionResultStruct& result);

} // namespace vocalith

// TranscriptionResult has no empty state, so nlohmann builds it through this serializer
// (`json.get<TranscriptionResult>()`, platform::decode).
template <> struct nlohmann::adl_serializer<vocalith::TranscriptionResult> {
    static vocalith::TranscriptionResult from_json(const nlohmann::json& json) {
        return vocalith::transcriptionResultFromJson(json);
    }
    template <class J> static void to_json(J& json, const vocalith::TranscriptionResult& result) {
        vocalith::to_json(json, result);
    }
};
