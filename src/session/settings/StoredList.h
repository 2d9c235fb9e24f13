#pragma once

// Shared by the settings-backed list stores: a whole list kept as compact JSON
// bytes (a data value) under one settings key.

#include "platform/json/Json.h"
#include "platform/settings/SettingsStore.h"
#include "platform/text/Uuid.h"
#include "session/VelnoteLogger.h"

#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velnote {

// The UUID string under `key`; throws platform::JsonDecodeError when missing or malformed.
inline platform::Uuid decodeUuid(const platform::Json& json, std::string_view key) {
    const auto text = platform::required<std::string>(json, key);
    const auto uuid = platform::Uuid::parse(text);
    if (!uuid)
        throw platform::JsonDecodeError(std::string(key), "not a UUID: " + text);
    return *uuid;
}

// The list stored under `key`; std::nullopt when nothing is stored as data, or
// when the bytes do not decode (logged to "app" with `failureMessage`, whose
// "{}" receives the error).
template <class Entry>
std::optional<std::vector<Entry>> loadStoredList(const platform::SettingsStore& store, std::string_view key,
                                                 std::string_view failureMessage) {
    const auto data = store.data(key);
    if (!data)
        return std::nullopt;
    try {
        const std::string_view text(reinterpret_cast<const char*>(data->data()), data->size());
        return platform::decode<std::vector<Entry>>(platform::parseJson(text));
    } catch (const platform::JsonDecodeError& e) {
        VelnoteLogger::app().error(failureMessage, e.what());
        return std::nullopt;
    }
}

// Stores the whole list under `key`; an encoding failure is logged with
// `failureMessage` and leaves the stored list as it was.
template <class Entry>
void saveStoredList(platform::SettingsStore& store, std::string_view key, const std::vector<Entry>& entries,
                    std::string_view failureMessage) {
    std::string text;
    try {
        text = platform::toCompactJson(platform::Json(entries));
    } catch (const std::exception& e) {
        VelnoteLogger::app().error(failureMessage, e.what());
        return;
    }
    store.set(key, platform::SettingsData(text.begin(), text.end()));
}

} // namespace velnote
