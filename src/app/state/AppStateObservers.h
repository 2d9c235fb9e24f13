#pragma once

#include "app/state/AppStateField.h"

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
    class Token;

    // Calls `observer` with the field after each change of any of `fields`, until the token goes.
    [[nodiscard]] Token add(const std::vector<AppStateField>& fields, Observer observer);

    void notify(AppStateField field);

  private:
    void remove(std::uint64_t id);

    std::array<std::map<std::uint64_t, std::shared_ptr<Observer>>, kAppStateFieldCount> byField_;
    std::uint64_t nextId_ = 1;
};

// Move-only; stops the observation when destroyed or reset. May outlive the state.
class AppStateObservers::Token {
  public:
    Token() = default;
    Token(Token&& other) noexcept;
    Token& operator=(Token&& other) noexcept;
    ~Token();

    void reset();

  private:
    friend class AppStateObservers;
    Token(std::weak_ptr<AppStateObservers> owner, std::uint64_t id) : owner_(std::move(owner)), id_(id) {}

    std::weak_ptr<AppStateObservers> owner_;
    std::uint64_t id_ = 0;
};

} // namespace velnote
