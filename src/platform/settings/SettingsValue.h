#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

namespace velnote::platform {

class SettingsValue;

using SettingsData = std::vector<std::uint8_t>;
using SettingsDate = std::chrono::sys_seconds;
using SettingsArray = std::vector<SettingsValue>;
using SettingsDictionary = std::map<std::string, SettingsValue, std::less<>>;

// One stored setting with its type: a string, an integer, a double, a bool,
// bytes, a date (whole seconds, UTC), or an array or dictionary of values.
// An integer and a double are different values even when numerically equal
// (2 is not 2.0), so a reader can tell which one was stored.
class SettingsValue {
  public:
    using Storage = std::variant<std::string, std::int64_t, double, bool, SettingsData, SettingsDate,
                                 SettingsArray, SettingsDictionary>;

    SettingsValue(std::string value) : storage_(std::move(value)) {}
    SettingsValue(std::string_view value) : storage_(std::string(value)) {}
    SettingsValue(const char* value) : storage_(std::string(value)) {}
    // Every integer type but bool; unsigned values above INT64_MAX wrap.
    template <class T>
    requires(std::is_integral_v<T> && !std::is_same_v<T, bool>) SettingsValue(T value)
        : storage_(static_cast<std::int64_t>(value)) {}
    SettingsValue(double value) : storage_(value) {}
    SettingsValue(bool value) : storage_(value) {}
    SettingsValue(SettingsData value) : storage_(std::move(value)) {}
    SettingsValue(SettingsDate value) : storage_(value) {}
    SettingsValue(SettingsArray value) : storage_(std::move(value)) {}
    SettingsValue(SettingsDictionary value) : storage_(std::move(value)) {}

    const Storage& storage() const { return storage_; }
    template <class T> bool holds() const { return std::holds_alternative<T>(storage_); }
    // nullptr when the value is of another type.
    template <class T> const T* get() const { return std::get_if<T>(&storage_); }

    // The coercions of the typed reads. A number gives its text (integers in
    // decimal, doubles in the shortest form that reads back, so 2.0 gives "2"),
    // a bool "1" or "0"; std::nullopt for bytes, dates, arrays and dictionaries.
    std::optional<std::string> coercedString() const;
    // A double is truncated toward zero and clamped to the int64 range (NaN
    // gives 0); a bool gives 1 or 0; a string is read like "  -42xyz" → -42:
    // leading white space, a sign, then digits up to the first non-digit,
    // clamped; no digits give 0. Anything else gives 0.
    std::int64_t coercedInteger() const;
    // A string is read from its start after white space ("2.5" → 2.5,
    // "2.5kg" → 2.5); nothing readable gives 0. Bool gives 1 or 0; anything
    // else 0.
    double coercedDouble() const;
    // Numbers: nonzero is true. A string is true when, after white space, a sign
    // and leading zeros, it starts with Y, y, T, t or a digit 1-9 ("YES",
    // "true", "1"); "NO", "false", "0" and "" are false. Anything else is false.
    bool coercedBool() const;

    // Same type and same content; NaN equals NaN so that storing it again is no change.
    friend bool operator==(const SettingsValue& a, const SettingsValue& b);

  private:
    Storage storage_;
};

} // namespace velnote::platform
