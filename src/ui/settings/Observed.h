#pragma once

#include "platform/concurrency/ObserverToken.h"
#include "ui/controls/Binding.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>

namespace velnote {

// The observers of one model: each is called after any of the model's values changed. Main
// thread only. Observers may drop their own or other tokens while being called.
class ChangeObservers {
  public:
    [[nodiscard]] platform::ObserverToken observe(std::function<void()> observer) {
        const std::uint64_t id = nextId_++;
        (*observers_)[id] = std::make_shared<std::function<void()>>(std::move(observer));
        return platform::ObserverToken([weak = std::weak_ptr(observers_), id] {
            if (auto observers = weak.lock()) {
                observers->erase(id);
            }
        });
    }

    void notify() const {
        const auto snapshot = *observers_; // an observer may add or drop observers
        for (const auto& [id, observer] : snapshot) {
            if (observers_->contains(id)) {
                (*observer)();
            }
        }
    }

  private:
    using Map = std::map<std::uint64_t, std::shared_ptr<std::function<void()>>>;
    std::shared_ptr<Map> observers_ = std::make_shared<Map>();
    std::uint64_t nextId_ = 1;
};

// One value of a model: setting a different value stores it and tells the model's observers;
// setting an equal one only stores it.
template <class T> class Observed {
  public:
    Observed(ChangeObservers& observers, T initial) : observers_(&observers), value_(std::move(initial)) {}
    Observed(const Observed&) = delete;
    Observed& operator=(const Observed&) = delete;

    const T& get() const { return value_; }
    void set(const T& value) {
        if (value == value_) {
            return;
        }
        value_ = value;
        observers_->notify();
    }

    // For a control; the value must outlive it.
    Binding<T> binding() {
        return Binding<T>([this] { return value_; }, [this](const T& value) { set(value); });
    }

  private:
    ChangeObservers* observers_;
    T value_;
};

} // namespace velnote
