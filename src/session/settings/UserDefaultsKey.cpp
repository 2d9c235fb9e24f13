#include "session/settings/UserDefaultsKey.h"

namespace velnote {
namespace {

constexpr std::array<std::string_view, kUserDefaultsKeyCount> kNames = {
#define VELNOTE_KEY_NAME(name) #name,
    VELNOTE_USER_DEFAULTS_KEYS(VELNOTE_KEY_NAME)
#undef VELNOTE_KEY_NAME
};

constexpr std::array<UserDefaultsKey, kUserDefaultsKeyCount> kKeys = {
#define VELNOTE_KEY_VALUE(name) UserDefaultsKey::name,
    VELNOTE_USER_DEFAULTS_KEYS(VELNOTE_KEY_VALUE)
#undef VELNOTE_KEY_VALUE
};

} // namespace

std::string_view rawValue(UserDefaultsKey key) {
    return kNames.at(static_cast<std::size_t>(key));
}

const std::array<UserDefaultsKey, kUserDefaultsKeyCount>& allUserDefaultsKeys() {
    return kKeys;
}

} // namespace velnote
