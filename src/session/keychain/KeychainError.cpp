#include "session/keychain/KeychainError.h"

#include "session/l10n/L10n.h"

namespace velnote {
namespace {

std::string describe(KeychainError::Kind kind, std::int32_t status) {
    if (kind == KeychainError::Kind::addFailed) {
        return L10n::localized("L10n.Keychain.addFailed", "Failed to save to Keychain (status: %d)",
                               {status});
    }
    return L10n::localized("L10n.Keychain.updateFailed", "Failed to update Keychain (status: %d)", {status});
}

} // namespace

KeychainError::KeychainError(Kind kind, std::int32_t status)
    : std::runtime_error(describe(kind, status)), kind_(kind), status_(status) {}

} // namespace velnote
