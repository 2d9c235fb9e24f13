#include "app/state/AppStateObservers.h"

#include <utility>

namespace velnote {

AppStateObservers::Token AppStateObservers::add(const std::vector<AppStateField>& fields, Observer observer) {
    const std::uint64_t id = nextId_++;
    auto shared = std::make_shared<Observer>(std::move(observer));
    for (AppStateField field : fields) {
        byField_[static_cast<std::size_t>(field)][id] = shared;
    }
    return Token([owner = weak_from_this(), id] {
        if (auto observers = owner.lock())
            observers->remove(id);
    });
}

void AppStateObservers::notify(AppStateField field) {
    auto& observers = byField_[static_cast<std::size_t>(field)];
    if (observers.empty()) {
        return;
    }
    std::vector<std::uint64_t> ids;
    ids.reserve(observers.size());
    for (const auto& entry : observers) {
        ids.push_back(entry.first);
    }
    for (std::uint64_t id : ids) {
        const auto found = observers.find(id);
        if (found == observers.end()) {
            continue; // dropped by an observer called before it
        }
        const std::shared_ptr<Observer> keep = found->second; // survives its own token's reset
        (*keep)(field);
    }
}

void AppStateObservers::remove(std::uint64_t id) {
    for (auto& observers : byField_) {
        observers.erase(id);
    }
}

} // namespace velnote
