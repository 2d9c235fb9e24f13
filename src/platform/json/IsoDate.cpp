#include "platform/json/IsoDate.h"

#include <cstdio>
#include <cstdlib>

namespace velnote::platform {

namespace {

using namespace std::chrono;

// The digits at text[at, at + count) as a number; nullopt if any is not a digit.
std::optional<int> digits(std::string_view text, std::size_t at, std::size_t count) {
    int value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return std::nullopt;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

bool hasSeparators(std::string_view text) {
    return text[4] == '-' && text[7] == '-' && text[10] == 'T' && text[13] == ':' && text[16] == ':';
}

// "Z" → 0; "+HH:MM"/"-HH:MM" → the signed offset east of UTC; else nullopt.
std::optional<seconds> parseOffset(std::string_view zone) {
    if (zone == "Z")
        return seconds(0);
    if (zone.size() != 6 || (zone[0] != '+' && zone[0] != '-') || zone[3] != ':')
        return std::nullopt;
    const auto h = digits(zone, 1, 2);
    const auto m = digits(zone, 4, 2);
    if (!h || !m || *h > 23 || *m > 59)
        return std::nullopt;
    const seconds offset = hours(*h) + minutes(*m);
    return zone[0] == '+' ? offset : -offset;
}

} // namespace

std::string formatIsoDate(sys_seconds time) {
    const auto day = floor<days>(time);
    const year_month_day ymd(day);
    const hh_mm_ss hms(time - day);
    const int y = static_cast<int>(ymd.year());
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%s%04d-%02u-%02uT%02d:%02d:%02dZ", y < 0 ? "-" : "", std::abs(y),
                  static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                  static_cast<int>(hms.hours().count()), static_cast<int>(hms.minutes().count()),
                  static_cast<int>(hms.seconds().count()));
    return buffer;
}

std::optional<sys_seconds> parseIsoDate(std::string_view text) {
    constexpr std::size_t kLocalLength = 19; // "YYYY-MM-DDTHH:MM:SS"
    if (text.size() < kLocalLength + 1 || !hasSeparators(text))
        return std::nullopt;
    const auto y = digits(text, 0, 4);
    const auto mo = digits(text, 5, 2);
    const auto d = digits(text, 8, 2);
    const auto h = digits(text, 11, 2);
    const auto mi = digits(text, 14, 2);
    const auto s = digits(text, 17, 2);
    const auto offset = parseOffset(text.substr(kLocalLength));
    if (!y || !mo || !d || !h || !mi || !s || !offset)
        return std::nullopt;
    const year_month_day date{year(*y), month(static_cast<unsigned>(*mo)), day(static_cast<unsigned>(*d))};
    if (!date.ok() || *h > 23 || *mi > 59 || *s > 59)
        return std::nullopt;
    const sys_seconds utc = sys_days(date) + hours(*h) + minutes(*mi) + seconds(*s) - *offset;
    // formatIsoDate would write such a year with five digits or a sign, which this parser refuses:
    // the file would not read back.
    const year utcYear = year_month_day(floor<days>(utc)).year();
    if (utcYear < year(0) || utcYear > year(9999))
        return std::nullopt;
    return utc;
}

} // namespace velnote::platform

void nlohmann::adl_serializer<std::chrono::sys_seconds>::from_json(const nlohmann::json& j,
                                                                   std::chrono::sys_seconds& time) {
    using velnote::platform::JsonDecodeError;
    if (!j.is_string())
        velnote::platform::detail::throwWrongType(j, "an ISO 8601 date string");
    const auto parsed = velnote::platform::parseIsoDate(j.get_ref<const std::string&>());
    if (!parsed)
        throw JsonDecodeError("", "not an ISO 8601 date: " + velnote::platform::toCompactJson(j));
    time = *parsed;
}
