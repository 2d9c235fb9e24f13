#pragma once

#include "engine/speech/JsonCoding.h"

#include <optional>
#include <variant>
#include <vector>

namespace vocalith {

// Channel modes: how the channels of an audio file become the engine's one channel. Declared
// outside AudioInputConfig so that the variant sees them complete (default-constructible).

// Take the channel with this index; an index the file does not have takes channel 0.
struct SpecificChannel {
    int channel = 0;
    bool operator==(const SpecificChannel&) const = default;
};
// Mix the channels with these indices; absent (or empty) means all. Absent differs from empty.
struct SumChannels {
    std::optional<std::vector<int>> channels{};
    bool operator==(const SumChannels&) const = default;
};
using ChannelMode = std::variant<SpecificChannel, SumChannels>;

struct AudioInputConfig {
    using SpecificChannel = vocalith::SpecificChannel;
    using SumChannels = vocalith::SumChannels;
    using ChannelMode = vocalith::ChannelMode;

    ChannelMode channelMode = SumChannels{};

    bool operator==(const AudioInputConfig&) const = default;
};

// One key naming the case, its payload under "_0": {"specificChannel": {"_0": 2}},
// {"sumChannels": {"_0": [0, 1]}}, and {"sumChannels": {}} for no list. Reading requires exactly one
// of the two keys, "_0" under "specificChannel", and integers that fit.
template <class J> void to_json(J& json, const ChannelMode& mode);
void from_json(const Json& json, ChannelMode& mode);

} // namespace vocalith
