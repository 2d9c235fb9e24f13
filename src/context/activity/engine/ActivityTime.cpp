#include "context/activity/engine/ActivityTime.h"

#include "platform/json/IsoDate.h"

#include <cstdio>
#include <ctime>

namespace velnote {

std::string formatActivityTime(ActivityTime time) {
    const auto seconds = std::chrono::floor<std::chrono::seconds>(time);
    const auto millis = (time - seconds).count();
    std::string whole = platform::formatIsoDate(seconds); // ends in "Z"
    char fraction[8];
    std::snprintf(fraction, sizeof fraction, ".%03lldZ", static_cast<long long>(millis));
    whole.pop_back();
    return whole + fraction;
}

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The fractional form: exactly "YYYY-MM-DDTHH:MM:SS", ".", digits, "Z".
std::optional<ActivityTime> parseFractional(std::string_view text) {
    constexpr std::size_t kSecondsLength = 19;
    if (text.size() < kSecondsLength + 3 || text[kSecondsLength] != '.' || text.back() != 'Z') {
        return std::nullopt;
    }
    const std::string_view digits = text.substr(kSecondsLength + 1, text.size() - kSecondsLength - 2);
    if (digits.empty() || digits.size() > 9) {
        return std::nullopt;
    }
    long long millis = 0;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (!isDigit(digits[i])) {
            return std::nullopt;
        }
        if (i < 3) {
            millis = millis * 10 + (digits[i] - '0');
        }
    }
    for (std::size_t i = digits.size(); i < 3; ++i) {
        millis *= 10;
    }
    const auto whole = platform::parseIsoDate(std::string(text.substr(0, kSecondsLength)) + "Z");
    if (!whole) {
        return std::nullopt;
    }
    return ActivityTime(*whole) + std::chrono::milliseconds(millis);
}

} // namespace

std::optional<ActivityTime> parseActivityTime(std::string_view text) {
    if (auto fractional = parseFractional(text)) {
        return fractional;
    }
    if (const auto whole = platform::parseIsoDate(text)) {
        return ActivityTime(*whole);
    }
    return std::nullopt;
}

std::string formatLocalHourMinute(ActivityTime time) {
    const std::time_t seconds =
        std::chrono::system_clock::to_time_t(std::chrono::floor<std::chrono::seconds>(time));
    std::tm local{};
    if (localtime_r(&seconds, &local) == nullptr) {
        return "00:00";
    }
    char text[8];
    std::snprintf(text, sizeof text, "%02d:%02d", local.tm_hour, local.tm_min);
    return text;
}

} // namespace velnote
