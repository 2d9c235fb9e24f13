#pragma once

#include "engine/foundation/UnfairLock.h"

#include <memory>
#include <nlohmann/json.hpp>
#include <utility>

namespace basalith {

// One value behind its own lock. Reads return a copy taken under the lock; writes replace the value
// under the lock. A copy of a PropertyLock shares the lock object and holds its own copy of the
// value. In JSON it is transparent: it reads and writes exactly as the bare value does.
template <class Value> class PropertyLock {
  public:
    PropertyLock() : PropertyLock(Value{}) {}
    explicit PropertyLock(Value value) : lock_(std::make_shared<UnfairLock>()), value_(std::move(value)) {}

    PropertyLock(const PropertyLock& other) : lock_(other.lock_), value_(other.get()) {}
    PropertyLock& operator=(const PropertyLock& other) {
        if (this != &other) {
            auto lock = other.lock_;
            Value copy = other.get();
            lock_ = std::move(lock);
            set(std::move(copy));
        }
        return *this;
    }

    Value get() const {
        return lock_->withLock([&] { return value_; });
    }

    void set(Value value) {
        auto lock = lock_; // the writer keeps the lock object alive while it writes
        lock->withLock([&] { value_ = std::move(value); });
    }

    // Applies `change(Value&)` to the value in one hold of the lock, so two overlapping changes
    // cannot lose one another. `change` must not touch this PropertyLock (the lock is not recursive).
    template <class Change> void modify(Change&& change) {
        auto lock = lock_;
        lock->withLock([&] { std::forward<Change>(change)(value_); });
    }

    // Writes the value into `json` while holding the lock.
    void toJson(nlohmann::json& json) const {
        lock_->withLock([&] { json = value_; });
    }

  private:
    std::shared_ptr<UnfairLock> lock_;
    Value value_;
};

} // namespace basalith

namespace nlohmann {

template <class Value> struct adl_serializer<basalith::PropertyLock<Value>> {
    static void to_json(json& j, const basalith::PropertyLock<Value>& wrapped) { wrapped.toJson(j); }
    // A decoding error of the value passes on; no wrapper is made.
    static basalith::PropertyLock<Value> from_json(const json& j) {
        return basalith::PropertyLock<Value>(j.template get<Value>());
    }
};

} // namespace nlohmann
