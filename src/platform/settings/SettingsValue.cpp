#include "platform/settings/SettingsValue.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace velnote::platform {

namespace {

template <class... F> struct Overloaded : F... { using F::operator()...; };

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

std::string_view skipSpace(std::string_view text) {
    while (!text.empty() && isSpace(text.front()))
        text.remove_prefix(1);
    return text;
}

std::int64_t integerFromText(std::string_view text) {
    text = skipSpace(text);
    const bool negative = !text.empty() && text.front() == '-';
    if (!text.empty() && (text.front() == '-' || text.front() == '+'))
        text.remove_prefix(1);
    constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
    // Accumulated as a negative number so that INT64_MIN fits.
    std::int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            break;
        const int digit = c - '0';
        if (value < (std::numeric_limits<std::int64_t>::min() + digit) / 10) {
            return negative ? std::numeric_limits<std::int64_t>::min() : kMax;
        }
        value = value * 10 - digit;
    }
    if (negative)
        return value;
    return value == std::numeric_limits<std::int64_t>::min() ? kMax : -value;
}

double doubleFromText(std::string_view text) {
    text = skipSpace(text);
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    double value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    return result.ec == std::errc() ? value : 0.0;
}

bool boolFromText(std::string_view text) {
    text = skipSpace(text);
    if (!text.empty() && (text.front() == '-' || text.front() == '+'))
        text.remove_prefix(1);
    while (!text.empty() && text.front() == '0')
        text.remove_prefix(1);
    if (text.empty())
        return false;
    const char c = text.front();
    return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
}

std::int64_t integerFromDouble(double value) {
    if (std::isnan(value))
        return 0;
    // 2^63 is exactly representable; every double below it fits after truncation.
    constexpr double kLimit = 9223372036854775808.0;
    if (value >= kLimit)
        return std::numeric_limits<std::int64_t>::max();
    if (value < -kLimit)
        return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(value);
}

std::string shortestText(double value) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

} // namespace

std::optional<std::string> SettingsValue::coercedString() const {
    return std::visit(Overloaded{
                          [](const std::string& s) -> std::optional<std::string> { return s; },
                          [](std::int64_t n) -> std::optional<std::string> { return std::to_string(n); },
                          [](double d) -> std::optional<std::string> { return shortestText(d); },
                          [](bool b) -> std::optional<std::string> { return b ? "1" : "0"; },
                          [](const auto&) -> std::optional<std::string> { return std::nullopt; },
                      },
                      storage_);
}

std::int64_t SettingsValue::coercedInteger() const {
    return std::visit(Overloaded{
                          [](const std::string& s) { return integerFromText(s); },
                          [](std::int64_t n) { return n; },
                          [](double d) { return integerFromDouble(d); },
                          [](bool b) { return std::int64_t{b ? 1 : 0}; },
                          [](const auto&) { return std::int64_t{0}; },
                      },
                      storage_);
}

double SettingsValue::coercedDouble() const {
    return std::visit(Overloaded{
                          [](const std::string& s) { return doubleFromText(s); },
                          [](std::int64_t n) { return static_cast<double>(n); },
                          [](double d) { return d; },
                          [](bool b) { return b ? 1.0 : 0.0; },
                          [](const auto&) { return 0.0; },
                      },
                      storage_);
}

bool SettingsValue::coercedBool() const {
    return std::visit(Overloaded{
                          [](const std::string& s) { return boolFromText(s); },
                          [](std::int64_t n) { return n != 0; },
                          [](double d) { return d != 0.0; },
                          [](bool b) { return b; },
                          [](const auto&) { return false; },
                      },
                      storage_);
}

bool operator==(const SettingsValue& a, const SettingsValue& b) {
    if (a.storage_.index() != b.storage_.index())
        return false;
    if (const double* x = a.get<double>()) {
        const double y = *b.get<double>();
        return *x == y || (std::isnan(*x) && std::isnan(y));
    }
    // Arrays and dictionaries compare their elements with this operator.
    return a.storage_ == b.storage_;
}

} // namespace velnote::platform
