#include "session/settings/UserDefaults.h"

#include "platform/text/Whitespace.h"

namespace velnote {

UserDefaults::UserDefaults(platform::SettingsStore& store) : store_(&store) {}

double UserDefaults::doubleValue(UserDefaultsKey key) const {
    return store_->doubleValue(rawValue(key));
}

float UserDefaults::floatValue(UserDefaultsKey key) const {
    return static_cast<float>(doubleValue(key));
}

std::int64_t UserDefaults::integer(UserDefaultsKey key) const {
    return store_->integer(rawValue(key));
}

bool UserDefaults::boolean(UserDefaultsKey key) const {
    return store_->boolean(rawValue(key));
}

std::optional<platform::SettingsValue> UserDefaults::object(UserDefaultsKey key) const {
    return store_->object(rawValue(key));
}

std::optional<std::string> UserDefaults::string(UserDefaultsKey key) const {
    return store_->string(rawValue(key));
}

std::optional<platform::SettingsData> UserDefaults::data(UserDefaultsKey key) const {
    return store_->data(rawValue(key));
}

std::optional<platform::SettingsDate> UserDefaults::date(UserDefaultsKey key) const {
    return store_->date(rawValue(key));
}

std::optional<platform::SettingsArray> UserDefaults::array(UserDefaultsKey key) const {
    return store_->array(rawValue(key));
}

std::optional<std::vector<std::string>> UserDefaults::stringArray(UserDefaultsKey key) const {
    const auto values = array(key);
    if (!values)
        return std::nullopt;
    std::vector<std::string> strings;
    for (const auto& value : *values) {
        const auto* text = value.get<std::string>();
        if (text == nullptr)
            return std::nullopt;
        strings.push_back(*text);
    }
    return strings;
}

std::optional<platform::SettingsDictionary> UserDefaults::dictionary(UserDefaultsKey key) const {
    return store_->dictionary(rawValue(key));
}

std::optional<std::string> UserDefaults::url(UserDefaultsKey key) const {
    const auto value = object(key);
    if (!value || !value->holds<std::string>())
        return std::nullopt;
    return *value->get<std::string>();
}

void UserDefaults::set(UserDefaultsKey key, platform::SettingsValue value) const {
    store_->set(rawValue(key), std::move(value));
}

void UserDefaults::setObject(UserDefaultsKey key, std::optional<platform::SettingsValue> value) const {
    if (value) {
        set(key, std::move(*value));
    } else {
        removeObject(key);
    }
}

void UserDefaults::removeObject(UserDefaultsKey key) const {
    store_->remove(rawValue(key));
}

bool UserDefaults::boolObject(UserDefaultsKey key, bool absent) const {
    const auto value = object(key);
    if (value && value->holds<bool>())
        return *value->get<bool>();
    return absent;
}

std::optional<std::string> UserDefaults::trimmedString(UserDefaultsKey key) const {
    const auto value = string(key);
    if (!value)
        return std::nullopt;
    std::string trimmed = platform::trimWhitespace(*value);
    if (trimmed.empty())
        return std::nullopt;
    return trimmed;
}

} // namespace velnote
