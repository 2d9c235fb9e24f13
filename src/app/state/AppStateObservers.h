#pragma once

#include "app/state/AppStateField.h"
#include "platform/concurrency/ObserverToken.h"

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace velnote {

// Who watches which field of AppState. Main thread only, like the state itself.
//
// Observers are called synchronously, after the new value is stored, in the order they were
// added. An observer may read and write the state, add observers (called from the next change
// on) and drop tokens (a dropped observer that has not been called yet is skipped).
class AppStateObservers : public std::enable_shared_from_this<AppStateObservers> {
  public:
    using Observer = std::function<void(AppStateField)>;
    // Stops the observation when destroyed or reset; may outlive the state.
    using Token = platform::ObserverToken;

    // Calls `observer` with the field after each change of any of `fields`, until the token goes.
    [[nodiscard]] Token add(const std::vector<AppStateField>& fields, Observer observer);

    void notify(AppStateField field);

  private:
    void remove(std::uint64_t id);

    std::array<std::map<std::uint64_t, std::shared_ptr<Observer>>, kAppStateFieldCount> byField_;
    std::uint64_t nextId_ = 1;
};

} // namespace velnote
