#pragma once

#include "platform/text/Uuid.h"

#include <cstddef>
#include <functional>

namespace velnote {

// The claim on the on-device model slot that ModelExecutionScheduler::reserveSlot hands out; a
// fresh random identifier for every reservation.
struct ModelExecutionSlotToken {
    platform::Uuid id;

    bool operator==(const ModelExecutionSlotToken&) const = default;
};

} // namespace velnote

template <> struct std::hash<velnote::ModelExecutionSlotToken> {
    std::size_t operator()(const velnote::ModelExecutionSlotToken& token) const noexcept {
        std::size_t hash = 0;
        for (const auto byte : token.id.bytes)
            hash = hash * 131 + byte;
        return hash;
    }
};
