#include "session/folder/SummaryVersion.h"

#include "platform/json/RawValue.h"
#include "session/config/SummaryProvider.h"
#include "session/l10n/L10n.h"

#include <memory>
#include <mutex>
#include <unicode/datefmt.h>
#include <unicode/unistr.h>

namespace velnote {
using namespace std::chrono;

const SummaryVersion::Time SummaryVersion::kDistantPast{sys_days(year(1) / January / 1)};

namespace {

std::string displayDate(SummaryVersion::Time time) {
    // One formatter for the process, in the user's locale and time zone;
    // ICU formatters are not safe to share between threads unguarded.
    static std::mutex mutex;
    static const std::unique_ptr<icu::DateFormat> formatter(
        icu::DateFormat::createDateTimeInstance(icu::DateFormat::kShort, icu::DateFormat::kMedium));
    const auto millis = static_cast<UDate>(duration_cast<milliseconds>(time.time_since_epoch()).count());
    icu::UnicodeString text;
    {
        std::lock_guard lock(mutex);
        if (!formatter)
            return {};
        formatter->format(millis, text);
    }
    std::string utf8;
    text.toUTF8String(utf8);
    return utf8;
}

} // namespace

std::string SummaryVersion::label() const {
    std::string result =
        isLatest ? L10n::localized("L10n.SummaryVersion.latest", "最新") : displayDate(createdAt);
    if (!runConfig)
        return result;
    const auto provider = platform::fromRawValue<SummaryProvider>(runConfig->provider);
    std::string detail = provider ? velnote::label(*provider) : runConfig->provider;
    if (!runConfig->model.empty())
        detail += " · " + runConfig->model;
    return result + "  [" + detail + "]";
}

} // namespace velnote
