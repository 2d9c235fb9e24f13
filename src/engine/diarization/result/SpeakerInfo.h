#pragma once

#include "platform/json/Json.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace diarith {

// Who speaks on a segment or a word: one speaker (its row in the diarization matrix), several, or
// none that could be attached.
class SpeakerInfo {
  public:
    enum class Kind { noMatch, multiple, speakerId };

    SpeakerInfo() = default; // noMatch
    static SpeakerInfo noMatch() { return {}; }
    static SpeakerInfo multiple(std::vector<std::int64_t> ids) { return SpeakerInfo(std::move(ids)); }
    static SpeakerInfo speakerId(std::int64_t id) { return SpeakerInfo(id); }

    Kind kind() const { return static_cast<Kind>(value_.index()); }
    // The one speaker; absent for noMatch and multiple.
    std::optional<std::int64_t> speakerId() const;
    // [n] for one speaker, the list for several, empty for none.
    std::vector<std::int64_t> speakerIds() const;
    // "Speaker 3", "Multiple Speakers: [0, 2]" or "No Speaker Matched".
    std::string description() const;

    friend bool operator==(const SpeakerInfo&, const SpeakerInfo&) = default;

  private:
    explicit SpeakerInfo(std::vector<std::int64_t> ids) : value_(std::move(ids)) {}
    explicit SpeakerInfo(std::int64_t id) : value_(id) {}

    std::variant<std::monostate, std::vector<std::int64_t>, std::int64_t> value_;
};

// {"noMatch": {}}, {"multiple": {"_0": [0, 2]}}, {"speakerId": {"_0": 3}}.
void to_json(velnote::platform::Json& json, const SpeakerInfo& info);
// Exactly one of the three keys must be there (others are not counted); throws
// velnote::platform::JsonDecodeError otherwise.
void from_json(const velnote::platform::Json& json, SpeakerInfo& info);

} // namespace diarith

template <> struct std::hash<diarith::SpeakerInfo> {
    std::size_t operator()(const diarith::SpeakerInfo& info) const noexcept;
};
