#pragma once

#include <cstdint>
#include <stdexcept>

namespace velnote {

// A provider API key could not be written to the keyring; the item keeps its
// previous value. what() is the localized description.
class KeychainError : public std::runtime_error {
  public:
    enum class Kind { addFailed, updateFailed };

    // `status`: the keyring back-end's error code, shown in the description.
    KeychainError(Kind kind, std::int32_t status);

    Kind kind() const { return kind_; }
    std::int32_t status() const { return status_; }

  private:
    Kind kind_;
    std::int32_t status_;
};

} // namespace velnote
