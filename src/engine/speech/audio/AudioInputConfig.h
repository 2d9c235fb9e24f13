#pragma once

#include <optional>
#include <variant>
#include <vector>

namespace vocalith {

// How the channels of an audio file become the engine's one channel.
struct AudioInputConfig {
    // Take the channel with this index.
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

    ChannelMode channelMode = SumChannels{};

    bool operator==(const AudioInputConfig&) const = default;
};

} // namespace vocalith
