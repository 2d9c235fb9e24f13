#include "ui/monitor/core/SessionRowFormatting.h"

#include "platform/json/RawValue.h"
#include "platform/text/Whitespace.h"
#include "session/config/SummaryProvider.h"
#include "session/l10n/L10n.h"

#include <cmath>
#include <memory>
#include <mutex>
#include <unicode/datefmt.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>

namespace velnote {
using namespace std::chrono;

namespace {

using Status = SessionStatusSnapshot::OverallStatus;

std::string utf8(const icu::UnicodeString& text) {
    std::string out;
    text.toUTF8String(out);
    return out;
}

// The four shared formatters; ICU formatters are not safe to share between threads unguarded.
class DirNameFormatters {
  public:
    static DirNameFormatters& shared() {
        static DirNameFormatters formatters;
        return formatters;
    }

    std::optional<UDate> parse(std::string_view name) {
        const icu::UnicodeString text =
            icu::UnicodeString::fromUTF8(icu::StringPiece(name.data(), name.size()));
        std::lock_guard lock(mutex_);
        for (auto* parser : {utc_.get(), local_.get()}) {
            if (parser == nullptr)
                continue;
            icu::ParsePosition position(0);
            const UDate date = parser->parse(text, position);
            if (position.getErrorIndex() < 0 && position.getIndex() == text.length())
                return date;
        }
        return std::nullopt;
    }

    std::string shortDateTime(UDate date) {
        icu::UnicodeString text;
        std::lock_guard lock(mutex_);
        if (shortDateTime_)
            shortDateTime_->format(date, text);
        return utf8(text);
    }

    std::string shortTime(UDate date) {
        icu::UnicodeString text;
        std::lock_guard lock(mutex_);
        if (shortTime_)
            shortTime_->format(date, text);
        return utf8(text);
    }

  private:
    DirNameFormatters()
        : utc_(makeParser(icu::TimeZone::createTimeZone("GMT"), "yyyy-MM-dd'T'HH-mm-ssXXXXX")),
          local_(makeParser(icu::TimeZone::createDefault(), "yyyy-MM-dd'T'HH-mm-ss")),
          shortDateTime_(
              icu::DateFormat::createDateTimeInstance(icu::DateFormat::kShort, icu::DateFormat::kMedium)) {
        UErrorCode status = U_ZERO_ERROR;
        shortTime_ = std::make_unique<icu::SimpleDateFormat>(icu::UnicodeString("HH:mm:ss"), status);
        if (U_FAILURE(status))
            shortTime_.reset();
    }

    static std::unique_ptr<icu::SimpleDateFormat> makeParser(icu::TimeZone* zone, const char* pattern) {
        UErrorCode status = U_ZERO_ERROR;
        auto parser = std::make_unique<icu::SimpleDateFormat>(icu::UnicodeString(pattern),
                                                              icu::Locale("en_US_POSIX"), status);
        if (U_FAILURE(status)) {
            delete zone;
            return nullptr;
        }
        parser->adoptTimeZone(zone);
        parser->setLenient(false);
        return parser;
    }

    std::mutex mutex_;
    std::unique_ptr<icu::SimpleDateFormat> utc_;
    std::unique_ptr<icu::SimpleDateFormat> local_;
    std::unique_ptr<icu::DateFormat> shortDateTime_;
    std::unique_ptr<icu::SimpleDateFormat> shortTime_;
};

std::string replaceAll(std::string text, std::string_view from, std::string_view to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

std::string providerName(const std::string& stored) {
    const auto provider = platform::fromRawValue<SummaryProvider>(stored);
    return provider ? label(*provider) : stored;
}

} // namespace

std::optional<std::string> SessionRowFormatting::subtitleText(const SessionStatusSnapshot& snapshot) {
    const std::string headline = platform::trimWhitespace(snapshot.summaryHeadline.value_or(""));
    const auto duration = formattedDuration(snapshot.recordingDuration);
    if (!headline.empty())
        return duration ? *duration + " ・ " + headline : headline;
    return duration;
}

std::optional<std::string> SessionRowFormatting::formattedDuration(std::optional<double> seconds) {
    if (!seconds || !std::isfinite(*seconds))
        return std::nullopt;
    const double rounded = std::round(*seconds);
    // 2^63 is the first double past the int64 range.
    if (rounded >= 9223372036854775808.0 || rounded < -9223372036854775808.0)
        return std::nullopt;
    const auto s = static_cast<std::int64_t>(rounded);
    const std::string label = L10n::localized("L10n.SessionMonitor.durationLabel", "Duration");
    if (s <= 59)
        return label + ": " + std::to_string(s) + "s";
    if (s < 3600)
        return label + L10n::format(": %dm%ds", {s / 60, s % 60});
    return label + L10n::format(": %dh%dm%ds", {s / 3600, (s % 3600) / 60, s % 60});
}

std::optional<std::string> SessionRowFormatting::elapsedText(const StepState& state, TimePoint now) {
    if (!state.startedAt)
        return std::nullopt;
    // Counted in whole seconds: a stored date far from now (years 0000-9999 are accepted) does not
    // fit the clock's nanoseconds.
    std::int64_t d = 0;
    if (state.completedAt) {
        d = (*state.completedAt - *state.startedAt).count();
    } else if (state.status == StepStatus::running) {
        const auto nowSeconds = floor<seconds>(now);
        d = (nowSeconds.time_since_epoch() - state.startedAt->time_since_epoch()).count();
        if (d < 0 && now != nowSeconds)
            ++d; // cut toward zero, as for a positive span
    } else {
        return std::nullopt;
    }
    if (d < 0)
        return std::nullopt;
    if (d <= 59)
        return std::to_string(d) + "s";
    return std::to_string(d / 60) + "m" + std::to_string(d % 60) + "s";
}

std::string SessionRowFormatting::shortTime(sys_seconds time) {
    return DirNameFormatters::shared().shortTime(static_cast<UDate>(time.time_since_epoch().count()) *
                                                 1000.0);
}

std::string SessionRowFormatting::transcriptionConfigText(const SessionConfig& config) {
    std::string input = platform::trimWhitespace(config.transcription.language.value_or(""));
    if (input.empty())
        input = L10n::localized("L10n.SessionMonitor.autoLang", "Auto");
    return L10n::localized("L10n.SessionMonitor.transcriptionConfig", "Model: %@ · Input: %@ · Output: %@",
                           {config.transcription.whisperModel, input, config.outputLanguage});
}

std::string SessionRowFormatting::diarizationConfigText(const SessionConfig& config) {
    if (!config.transcription.diarizationEnabled)
        return L10n::localized("L10n.Common.disabled", "Disabled");
    const auto speakers = config.transcription.numberOfSpeakers;
    if (!speakers || *speakers < 1)
        return L10n::localized("L10n.Common.enabled", "Enabled");
    return L10n::localized("L10n.Common.diarizationEnabledSpeakers", "Enabled (%d speakers)", {*speakers});
}

std::string SessionRowFormatting::summaryConfigText(const SessionConfig& config) {
    if (config.summary.provider.empty())
        return L10n::localized("L10n.Common.disabled", "Disabled");
    std::string text = providerName(config.summary.provider);
    for (const std::string& item : summaryConfigDetailItems(config))
        text += " · " + item;
    return text;
}

std::vector<std::string> SessionRowFormatting::summaryConfigDetailItems(const SessionConfig& config) {
    const SummaryConfig& summary = config.summary;
    const auto provider = platform::fromRawValue<SummaryProvider>(summary.provider);
    if (!provider)
        return {};
    switch (*provider) {
    case SummaryProvider::llamaCppLocal:
        return {summary.localModel};
    case SummaryProvider::openAI:
    case SummaryProvider::openRouter:
    case SummaryProvider::githubCopilotAPI:
    case SummaryProvider::claudeAPI:
    case SummaryProvider::ollama:
    case SummaryProvider::geminiAPI: {
        std::vector<std::string> items;
        if (summary.providerModel)
            items.push_back(*summary.providerModel);
        if (summary.providerBaseURL)
            items.push_back(*summary.providerBaseURL);
        return items;
    }
    case SummaryProvider::claudeCLI:
    case SummaryProvider::copilotCLI:
    case SummaryProvider::antigravityCLI: {
        std::string model = platform::trimWhitespace(summary.providerModel.value_or(""));
        if (model.empty())
            model = L10n::localized("L10n.Common.auto", "Auto");
        return {L10n::localized("L10n.Common.modelLabel", "Model: %@", {model})};
    }
    case SummaryProvider::appleLocalLLM:
        return {};
    }
    return {};
}

std::string SessionRowFormatting::nightlyBatchText(const SessionConfig& config) {
    return config.system.nightlyBatch ? L10n::localized("L10n.Common.onLabel", "ON")
                                      : L10n::localized("L10n.Common.off", "OFF");
}

std::string SessionRowFormatting::formattedName(std::string_view dirName) {
    auto& formatters = DirNameFormatters::shared();
    if (const auto date = formatters.parse(dirName))
        return formatters.shortDateTime(*date);
    std::string name = replaceAll(std::string(dirName), "T", " ");
    name = replaceAll(std::move(name), "Z", "");
    return replaceAll(std::move(name), "-", ":");
}

StatusTone SessionRowFormatting::tone(Status status) {
    switch (status) {
    case Status::queued:
    case Status::stopped:
        return StatusTone::orange;
    case Status::running:
        return StatusTone::blue;
    case Status::done:
        return StatusTone::green;
    case Status::failed:
        return StatusTone::red;
    case Status::pending:
        return StatusTone::secondary;
    }
    return StatusTone::secondary;
}

StatusTone SessionRowFormatting::tone(StepStatus status) {
    switch (status) {
    case StepStatus::pending:
        return StatusTone::secondary;
    case StepStatus::running:
        return StatusTone::blue;
    case StepStatus::done:
        return StatusTone::green;
    case StepStatus::failed:
        return StatusTone::red;
    case StepStatus::skipped:
        return StatusTone::faint;
    }
    return StatusTone::secondary;
}

std::string SessionRowFormatting::statusWord(StepStatus status) {
    return std::string(rawValue(status));
}

} // namespace velnote
