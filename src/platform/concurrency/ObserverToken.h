#pragma once

#include <functional>

namespace velnote::platform {

// What a subscription hands back. Move-only; ends the subscription when reset or destroyed by
// running, once, the action it was made with. The subscriber's owner decides what ending means
// (and whether it waits for calls in progress); an action that holds the owner weakly lets the
// token outlive what it observes.
class ObserverToken {
  public:
    ObserverToken() = default;
    explicit ObserverToken(std::function<void()> unsubscribe) : unsubscribe_(std::move(unsubscribe)) {}
    ObserverToken(ObserverToken&& other) noexcept;
    ObserverToken& operator=(ObserverToken&& other) noexcept;
    ~ObserverToken();

    // Unsubscribes now; later calls do nothing.
    void reset();

  private:
    std::function<void()> unsubscribe_;
};

} // namespace velnote::platform
