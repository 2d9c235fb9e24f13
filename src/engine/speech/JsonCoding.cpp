#include "engine/speech/JsonCoding.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace vocalith {

JsonEncodeError::JsonEncodeError(const std::string& path, const std::string& problem)
    : std::runtime_error(path.empty() ? problem : path + ": " + problem), path_(path) {}

double jsonDouble(double value, std::string_view key) {
    if (!std::isfinite(value))
        throw JsonEncodeError(std::string(key), "JSON cannot hold a number that is not finite");
    return value;
}

double jsonFloat(float value, std::string_view key) {
    jsonDouble(value, key);
    char buffer[64];
    const auto written = std::to_chars(buffer, buffer + sizeof buffer, value);
    double shortest = 0;
    const auto read = std::from_chars(buffer, written.ptr, shortest);
    // The decimal goes through a double on reading; keep the exact value in the rare case where
    // that second rounding would land on a neighbouring float.
    if (read.ec != std::errc() || static_cast<float>(shortest) != value)
        return static_cast<double>(value);
    return shortest;
}

double decodeDouble(const Json& value) {
    if (!value.is_number())
        velnote::platform::detail::throwWrongType(value, "a number");
    const double number = value.get<double>();
    if (!std::isfinite(number))
        throw JsonDecodeError("", "number out of range: " + value.dump());
    return number;
}

float decodeFloat(const Json& value) {
    const double number = decodeDouble(value);
    if (std::fabs(number) > static_cast<double>(std::numeric_limits<float>::max()))
        throw JsonDecodeError("", "number out of range for a 32-bit float: " + value.dump());
    return static_cast<float>(number);
}

namespace {

template <class T, class Decode> T requiredWith(const Json& object, std::string_view key, Decode decode) {
    const Json* member = velnote::platform::detail::findMember(object, key);
    if (member == nullptr || member->is_null())
        throw JsonDecodeError(std::string(key), "missing required key");
    try {
        return decode(*member);
    } catch (const JsonDecodeError& e) {
        throw e.under(key);
    }
}

} // namespace

float requiredFloat(const Json& object, std::string_view key) {
    return requiredWith<float>(object, key, decodeFloat);
}

double requiredDouble(const Json& object, std::string_view key) {
    return requiredWith<double>(object, key, decodeDouble);
}

std::optional<float> optionalFloat(const Json& object, std::string_view key) {
    const Json* member = velnote::platform::detail::findMember(object, key);
    if (member == nullptr || member->is_null())
        return std::nullopt;
    return requiredFloat(object, key);
}

template <class J> J tokenLogProbsJson(const std::map<std::int64_t, float>& probs, std::string_view key) {
    J object = J::object();
    for (const auto& [token, logProb] : probs)
        object[std::to_string(token)] = jsonFloat(logProb, key);
    return object;
}
template Json tokenLogProbsJson<Json>(const std::map<std::int64_t, float>&, std::string_view);
template OrderedJson tokenLogProbsJson<OrderedJson>(const std::map<std::int64_t, float>&, std::string_view);

std::map<std::int64_t, float> decodeTokenLogProbs(const Json& value) {
    if (!value.is_object())
        velnote::platform::detail::throwWrongType(value, "an object");
    std::map<std::int64_t, float> probs;
    for (const auto& [name, logProb] : value.items()) {
        std::int64_t token = 0;
        const char* end = name.data() + name.size();
        const auto parsed = std::from_chars(name.data(), end, token);
        if (name.empty() || parsed.ec != std::errc() || parsed.ptr != end)
            throw JsonDecodeError(name, "token id is not a decimal integer");
        try {
            probs[token] = decodeFloat(logProb);
        } catch (const JsonDecodeError& e) {
            throw e.under(name);
        }
    }
    return probs;
}

} // namespace vocalith
