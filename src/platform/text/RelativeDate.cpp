#include "platform/text/RelativeDate.h"

#include "platform/text/IcuSupport.h"

#include <array>
#include <cmath>
#include <memory>
#include <unicode/locid.h>
#include <unicode/reldatefmt.h>

namespace velnote::platform {
namespace {

struct Unit {
    double seconds;
    URelativeDateTimeUnit unit;
};

constexpr double kDay = 86400;
// Calendar months and years at their average lengths: an age in words needs no calendar.
constexpr std::array kUnits{
    Unit{365.2425 * kDay, UDAT_REL_UNIT_YEAR},
    Unit{30.436875 * kDay, UDAT_REL_UNIT_MONTH},
    Unit{7 * kDay, UDAT_REL_UNIT_WEEK},
    Unit{kDay, UDAT_REL_UNIT_DAY},
    Unit{3600, UDAT_REL_UNIT_HOUR},
    Unit{60, UDAT_REL_UNIT_MINUTE},
};

} // namespace

std::string relativeDateString(std::chrono::system_clock::time_point date,
                               std::chrono::system_clock::time_point now, std::string_view locale) {
    const double offset = std::chrono::duration<double>(date - now).count();
    double amount = std::trunc(offset);
    URelativeDateTimeUnit unit = UDAT_REL_UNIT_SECOND;
    for (const Unit& candidate : kUnits) {
        if (std::fabs(offset) >= candidate.seconds) {
            amount = std::trunc(offset / candidate.seconds);
            unit = candidate.unit;
            break;
        }
    }
    UErrorCode status = U_ZERO_ERROR;
    const icu::Locale where =
        locale.empty() ? icu::Locale::getDefault() : icu::Locale(std::string(locale).c_str());
    icu::RelativeDateTimeFormatter formatter(where, status);
    if (U_FAILURE(status)) {
        status = U_ZERO_ERROR;
        formatter = icu::RelativeDateTimeFormatter(icu::Locale::getRoot(), status);
    }
    icu::UnicodeString text;
    // -0.0 would read "0 seconds ago"; the same moment reads "in 0 seconds", as a plain 0 does.
    formatter.formatNumeric(amount == 0 ? 0.0 : amount, unit, text, status);
    if (U_FAILURE(status))
        return std::to_string(static_cast<long long>(amount));
    return toUtf8(text);
}

} // namespace velnote::platform
