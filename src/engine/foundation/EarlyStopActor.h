#pragma once

#include "engine/foundation/Uuid.h"

#include <mutex>
#include <optional>
#include <unordered_map>

namespace basalith {

// One early-stop flag per decoding run. Every operation is serialised, so a set that returns
// before a get starts is seen by that get. Safe from any thread.
class EarlyStopActor {
  public:
    // Stores the flag for `id`, replacing an earlier one.
    void set(bool shouldStop, const Uuid& id);
    // Sets the flag of a run still registered; a request that arrives after the run removed its
    // entry is dropped rather than leaving an entry nobody removes. True when it was recorded.
    bool requestStop(const Uuid& id);
    // The stored flag; false when `id` has no entry.
    bool get(const Uuid& id) const;
    // Removes the entry and returns its flag; nothing when there was none.
    std::optional<bool> remove(const Uuid& id);

  private:
    mutable std::mutex mutex_;
    std::unordered_map<Uuid, bool> shouldStop_;
};

} // namespace basalith
