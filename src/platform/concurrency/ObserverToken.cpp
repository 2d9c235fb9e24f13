#include "platform/concurrency/ObserverToken.h"

#include <utility>

namespace velnote::platform {

ObserverToken::ObserverToken(ObserverToken&& other) noexcept
    : unsubscribe_(std::exchange(other.unsubscribe_, nullptr)) {}

ObserverToken& ObserverToken::operator=(ObserverToken&& other) noexcept {
    if (this != &other) {
        reset();
        unsubscribe_ = std::exchange(other.unsubscribe_, nullptr);
    }
    return *this;
}

ObserverToken::~ObserverToken() {
    reset();
}

void ObserverToken::reset() {
    if (auto unsubscribe = std::exchange(unsubscribe_, nullptr))
        unsubscribe();
}

} // namespace velnote::platform
