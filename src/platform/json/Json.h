#pragma once

// JSON reading and writing for the application's records.
//
// Records get their own `to_json(Json&, const R&)` and `from_json(const Json&, R&)`
// free functions beside the type (nlohmann's ADL convention), written with the
// strict helpers below:
//
//     void from_json(const Json& j, SummaryConfig& c) {
//         c.provider = required<std::string>(j, "provider");
//         c.model = optional<std::string>(j, "model");
//     }
//     void to_json(Json& j, const SummaryConfig& c) {
//         j = Json::object();
//         j["provider"] = c.provider;
//         setIfPresent(j, "model", c.model);
//     }
//
// A failure deep inside nested records surfaces as one JsonDecodeError whose
// path names every step, e.g. "config.summary.provider" or "segments[3].text".
// Unknown keys are ignored.

#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace velnote::platform {

// Objects keep their keys sorted, so written files are stable and diffable.
using Json = nlohmann::json;

class JsonDecodeError : public std::runtime_error {
  public:
    // `path`: dotted key path from the outermost decoded value, "" for the value
    // itself. `problem`: what is wrong, without the path.
    JsonDecodeError(std::string path, std::string problem);

    const std::string& path() const { return path_; }
    const std::string& problem() const { return problem_; }

    // The same error seen from the parent: `key` is an object key, or an
    // array step such as "[3]".
    JsonDecodeError under(std::string_view key) const;

  private:
    std::string path_;
    std::string problem_;
};

// Two-space indent, keys sorted, always ending in exactly one "\n" so that files
// end with a newline. Invalid UTF-8 in strings is written as U+FFFD.
std::string toPrettyJson(const Json& value);
// One line without spaces and without a trailing newline. Invalid UTF-8 as above.
std::string toCompactJson(const Json& value);
// How deeply arrays and objects may nest in what parseJson reads: far deeper than anything the
// application writes, and shallow enough that code walking the value recursively (copies, dumps,
// the settings decoder) cannot run out of stack.
inline constexpr std::size_t kJsonDepthLimit = 64;

// Throws JsonDecodeError (path "") when `text` is not one complete JSON value, holds a number
// outside the double range (1e999), holds a NUL byte anywhere (the parser would stop there and
// drop what follows), or nests arrays and objects deeper than `maxDepth` levels (the outermost
// value is level 1).
Json parseJson(std::string_view text, std::size_t maxDepth = kJsonDepthLimit);

template <class T> T decode(const Json& value);

namespace detail {

template <class T> struct IsOptional : std::false_type {};
template <class T> struct IsOptional<std::optional<T>> : std::true_type {};
template <class T> struct IsVector : std::false_type {};
template <class T, class A> struct IsVector<std::vector<T, A>> : std::true_type {};
template <class T> struct IsStringMap : std::false_type {};
template <class T, class C, class A> struct IsStringMap<std::map<std::string, T, C, A>> : std::true_type {};

std::string typeName(const Json& value);
[[noreturn]] void throwWrongType(const Json& value, std::string_view expected);
// nullptr when the key is absent; throws when `object` is not an object.
const Json* findMember(const Json& object, std::string_view key);

template <class T> T decodeInteger(const Json& value) {
    if (value.is_number_unsigned()) {
        const auto n = value.get<std::uint64_t>();
        if (n <= static_cast<std::uint64_t>(std::numeric_limits<T>::max()))
            return static_cast<T>(n);
    } else if (value.is_number_integer()) {
        const auto n = value.get<std::int64_t>();
        if (std::in_range<T>(n))
            return static_cast<T>(n);
    } else {
        throwWrongType(value, "an integer");
    }
    throw JsonDecodeError("", "integer out of range: " + value.dump());
}

template <class T> T decodeElement(const Json& value, const std::string& step) {
    try {
        return decode<T>(value);
    } catch (const JsonDecodeError& e) {
        throw e.under(step);
    }
}

} // namespace detail

// Strict conversion of one value: bool only from a JSON bool, integers only from
// JSON integers that fit T, floating point from any JSON number, strings only
// from strings, a vector from an array and a std::map<std::string, T> from an
// object (element by element); std::optional<T> reads null as std::nullopt.
// Any other type goes through its `from_json`; nlohmann errors raised there are
// turned into JsonDecodeError. Throws JsonDecodeError.
template <class T> T decode(const Json& value) {
    if constexpr (std::is_same_v<T, Json>) {
        return value;
    } else if constexpr (std::is_same_v<T, bool>) {
        if (!value.is_boolean())
            detail::throwWrongType(value, "a bool");
        return value.get<bool>();
    } else if constexpr (std::is_integral_v<T>) {
        return detail::decodeInteger<T>(value);
    } else if constexpr (std::is_floating_point_v<T>) {
        if (!value.is_number())
            detail::throwWrongType(value, "a number");
        const double number = value.get<double>();
        // Narrowing a double beyond the target's range is undefined behaviour.
        if constexpr (sizeof(T) < sizeof(double)) {
            if (std::isfinite(number) &&
                std::abs(number) > static_cast<double>(std::numeric_limits<T>::max()))
                throw JsonDecodeError("", "number out of range: " + value.dump());
        }
        return static_cast<T>(number);
    } else if constexpr (std::is_same_v<T, std::string>) {
        if (!value.is_string())
            detail::throwWrongType(value, "a string");
        return value.get<std::string>();
    } else if constexpr (detail::IsOptional<T>::value) {
        if (value.is_null())
            return std::nullopt;
        return decode<typename T::value_type>(value);
    } else if constexpr (detail::IsVector<T>::value) {
        if (!value.is_array())
            detail::throwWrongType(value, "an array");
        T result;
        result.reserve(value.size());
        for (std::size_t i = 0; i < value.size(); ++i) {
            result.push_back(
                detail::decodeElement<typename T::value_type>(value[i], "[" + std::to_string(i) + "]"));
        }
        return result;
    } else if constexpr (detail::IsStringMap<T>::value) {
        if (!value.is_object())
            detail::throwWrongType(value, "an object");
        T result;
        for (const auto& [key, element] : value.items()) {
            result.emplace(key, detail::decodeElement<typename T::mapped_type>(element, key));
        }
        return result;
    } else {
        try {
            return value.get<T>();
        } catch (const nlohmann::json::exception& e) {
            throw JsonDecodeError("", e.what());
        }
    }
}

// The value under `key` of the object `object`. Missing, null or not
// convertible (see decode) throws JsonDecodeError with the key in the path.
template <class T> T required(const Json& object, std::string_view key) {
    const Json* member = detail::findMember(object, key);
    if (member == nullptr || member->is_null()) {
        throw JsonDecodeError(std::string(key), "missing required key");
    }
    return detail::decodeElement<T>(*member, std::string(key));
}

// std::nullopt when `key` is missing or null; throws JsonDecodeError when the
// value is there but not convertible.
template <class T> std::optional<T> optional(const Json& object, std::string_view key) {
    const Json* member = detail::findMember(object, key);
    if (member == nullptr || member->is_null())
        return std::nullopt;
    return detail::decodeElement<T>(*member, std::string(key));
}

// Writes `key` only when `value` holds something: an absent optional leaves no
// key behind, never a null.
template <class T> void setIfPresent(Json& object, std::string_view key, const std::optional<T>& value) {
    if (value)
        object[std::string(key)] = *value;
}

} // namespace velnote::platform
