#include "engine/foundation/EarlyStopActor.h"

namespace basalith {

void EarlyStopActor::set(bool shouldStop, const Uuid& id) {
    std::lock_guard lock(mutex_);
    shouldStop_[id] = shouldStop;
}

bool EarlyStopActor::requestStop(const Uuid& id) {
    std::lock_guard lock(mutex_);
    auto found = shouldStop_.find(id);
    if (found == shouldStop_.end())
        return false;
    found->second = true;
    return true;
}

bool EarlyStopActor::get(const Uuid& id) const {
    std::lock_guard lock(mutex_);
    auto found = shouldStop_.find(id);
    return found != shouldStop_.end() && found->second;
}

std::optional<bool> EarlyStopActor::remove(const Uuid& id) {
    std::lock_guard lock(mutex_);
    auto found = shouldStop_.find(id);
    if (found == shouldStop_.end())
        return std::nullopt;
    bool flag = found->second;
    shouldStop_.erase(found);
    return flag;
}

} // namespace basalith
