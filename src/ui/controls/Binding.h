#pragma once

#include <functional>
#include <utility>

namespace velnote {

// A value that a control edits but does not own: reading asks the owner, writing hands the new
// value to the owner at once. The owner decides whether that is a draft or a stored change.
// Main thread only, like the controls that use it.
template <class T> class Binding {
  public:
    using Getter = std::function<T()>;
    using Setter = std::function<void(const T&)>;

    Binding(Getter get, Setter set) : get_(std::move(get)), set_(std::move(set)) {}

    // Over a variable of the caller's that must outlive the binding.
    static Binding over(T& storage) {
        return Binding([&storage] { return storage; }, [&storage](const T& value) { storage = value; });
    }

    T get() const { return get_(); }
    void set(const T& value) const { set_(value); }

  private:
    Getter get_;
    Setter set_;
};

} // namespace velnote
