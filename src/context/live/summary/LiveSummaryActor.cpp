#include "context/live/summary/LiveSummaryActor.h"

#include "platform/concurrency/CancellationError.h"
#include "platform/concurrency/StoppableSleep.h"
#include "platform/concurrency/SystemClock.h"
#include "platform/error/ErrorText.h"
#include "platform/flavor/BuildFlavor.h"
#include "platform/fs/Files.h"
#include "platform/json/RawValue.h"
#include "platform/power/SystemPowerStatus.h"
#include "platform/text/Characters.h"
#include "platform/text/Split.h"
#include "platform/text/Whitespace.h"
#include "session/VelnoteLogger.h"
#include "session/config/PromptCatalog.h"
#include "summary/core/NativeSummarizationError.h"

#include <algorithm>
#include <charconv>

namespace velnote {

namespace fs = std::filesystem;
using platform::ThermalState;

namespace {

constexpr std::size_t kFingerprintTailCharacters = 1600;
constexpr const char* kLiveSummaryFileName = "summary.live.md";

const platform::Logger& log() {
    return VelnoteLogger::summarize();
}

std::int64_t clampedInterval(std::int64_t minutes) {
    return std::clamp<std::int64_t>(minutes, 1, 60);
}

// The last `count` characters of `text`, whole.
std::string lastCharacters(const std::string& text, std::size_t count) {
    const auto characters = platform::splitCharacters(text);
    if (characters.size() <= count) {
        return text;
    }
    return text.substr(static_cast<std::size_t>(characters[characters.size() - count].data() - text.data()));
}

// A decimal number as the stamp's minutes or seconds; "" and anything not wholly a number are none.
std::optional<double> decimalNumber(std::string_view text) {
    double value = 0;
    const auto [end, error] =
        std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
    if (error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

// The wait before the next pass: the interval, stretched to 10 or 15 minutes on a hot machine.
std::chrono::seconds waitFor(ThermalState thermal, std::int64_t intervalMinutes) {
    const std::chrono::seconds interval = std::chrono::minutes(std::max<std::int64_t>(intervalMinutes, 1));
    switch (thermal) {
    case ThermalState::serious:
        return intervalMinutes <= 10 ? std::chrono::seconds(600) : interval;
    case ThermalState::critical:
        return intervalMinutes <= 15 ? std::chrono::seconds(900) : interval;
    case ThermalState::nominal:
    case ThermalState::fair:
        break;
    }
    return interval;
}

bool isStoreOnlyLocal(SummaryProvider provider) {
    return provider == SummaryProvider::claudeCLI || provider == SummaryProvider::copilotCLI ||
           provider == SummaryProvider::antigravityCLI;
}

bool isCancellation(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const platform::CancellationError&) {
        return true;
    } catch (...) {
        return false;
    }
}

} // namespace

LiveSummaryActor::LiveSummaryActor() : LiveSummaryActor(Environment{}) {}

LiveSummaryActor::LiveSummaryActor(Environment environment)
    : clock_(environment.clock != nullptr ? *environment.clock : platform::SystemClock::shared()),
      main_(environment.mainDispatcher != nullptr ? *environment.mainDispatcher
                                                  : platform::MainDispatcher::shared()),
      appState_(environment.appState != nullptr ? *environment.appState : AppState::shared()),
      power_(environment.power != nullptr ? *environment.power : platform::SystemPowerStatus::shared()),
      generator_(std::move(environment.generation)), afterPass_(std::move(environment.afterPass)) {}

LiveSummaryActor::~LiveSummaryActor() {
    std::list<Loop> loops = executor_.submit([this] { return std::move(loops_); }).get();
    for (Loop& loop : loops) {
        loop.thread.request_stop();
    }
    loops.clear(); // joins: a pass in progress sees its stop and ends
}

const std::shared_ptr<LiveSummaryActor>& LiveSummaryActor::shared() {
    static const auto* instance = new std::shared_ptr<LiveSummaryActor>(std::make_shared<LiveSummaryActor>());
    return *instance;
}

std::future<void> LiveSummaryActor::startSession(const fs::path& sessionDir,
                                                 std::shared_ptr<ScreenCaptureMonitoring> screenMonitor,
                                                 const SessionConfig& config,
                                                 std::chrono::system_clock::time_point startedAt) {
    return executor_.submit([this, sessionDir, screenMonitor = std::move(screenMonitor), config, startedAt] {
        sessionDir_ = sessionDir;
        sessionStartedAt_ = startedAt;
        screenMonitor_ = screenMonitor;
        latestTranscript_.clear();
        latestSummary_.clear();
        lastTranscriptFingerprint_.clear();
        isActive_ = true;
        isGenerating_ = false;
        ++session_;

        const LiveSummaryConfig& live = config.liveSummary;
        isEnabled_ = live.enabled;
        intervalMinutes_ = clampedInterval(live.intervalMinutes);
        outputLanguage_ = config.outputLanguage;
        prompt_ = platform::isBlank(live.prompt) ? PromptCatalog::liveSummaryPrompt() : live.prompt;
        provider_ =
            platform::fromRawValue<SummaryProvider>(live.provider).value_or(SummaryProvider::llamaCppLocal);
        if (isStoreOnlyLocal(provider_) && BuildFlavor::overrideIsAppStore()) {
            provider_ = SummaryProvider::llamaCppLocal;
        }
        localModel_ = config.summary.localModel;
        localModelPath_ = live.modelPath;
        providerModel_ = live.providerModel;
        providerBaseURL_ = live.providerBaseURL;

        publish([](AppState& state) {
            state.updateLiveSummary("");
            state.updateLiveSummaryPending(false);
            state.updateLiveSummaryError(std::nullopt);
        });
        restartLoopNow();
    });
}

std::future<void> LiveSummaryActor::stopSession() {
    return executor_.submit([this] {
        if (!sessionDir_) {
            return;
        }
        if (!loops_.empty()) {
            loops_.back().thread.request_stop();
        }
        isActive_ = false;
        isGenerating_ = false;
        screenMonitor_.reset();
        sessionDir_.reset();
        latestTranscript_.clear();
        latestSummary_.clear();
        lastTranscriptFingerprint_.clear();
        publish([](AppState& state) { state.updateLiveSummaryPending(false); });
    });
}

std::future<void> LiveSummaryActor::setScreenMonitor(std::shared_ptr<ScreenCaptureMonitoring> screenMonitor) {
    return executor_.submit(
        [this, screenMonitor = std::move(screenMonitor)] { screenMonitor_ = screenMonitor; });
}

std::future<void> LiveSummaryActor::updateSchedule(bool enabled, std::int64_t intervalMinutes) {
    return executor_.submit([this, enabled, intervalMinutes] {
        isEnabled_ = enabled;
        intervalMinutes_ = clampedInterval(intervalMinutes);
        if (isActive_) {
            restartLoopNow();
        }
    });
}

std::future<void> LiveSummaryActor::updateProviderSettings(SummaryProvider provider, std::string prompt,
                                                           std::optional<std::string> providerModel,
                                                           std::optional<std::string> providerBaseURL) {
    const auto noneWhenEmpty = [](std::optional<std::string>& value) {
        if (value && value->empty()) {
            value.reset();
        }
    };
    noneWhenEmpty(providerModel);
    noneWhenEmpty(providerBaseURL);
    return executor_.submit([this, provider, prompt = std::move(prompt),
                             providerModel = std::move(providerModel),
                             providerBaseURL = std::move(providerBaseURL)] {
        provider_ = provider;
        prompt_ = platform::isBlank(prompt) ? PromptCatalog::liveSummaryPrompt() : prompt;
        providerModel_ = providerModel;
        providerBaseURL_ = providerBaseURL;
    });
}

std::future<void> LiveSummaryActor::setOutputLanguage(std::string outputLanguage) {
    return executor_.submit(
        [this, outputLanguage = std::move(outputLanguage)] { outputLanguage_ = outputLanguage; });
}

std::future<void> LiveSummaryActor::updateLatestTranscript(std::vector<std::string> lines) {
    return setLatestTranscript(platform::joined(lines, "\n"));
}

std::future<void> LiveSummaryActor::setLatestTranscript(std::string transcript) {
    return executor_.submit([this, transcript = std::move(transcript)] {
        latestTranscript_ = lastCharacters(transcript, maxTranscriptLength);
    });
}

std::future<void> LiveSummaryActor::restartLoop() {
    return executor_.submit([this] { restartLoopNow(); });
}

void LiveSummaryActor::restartLoopNow() {
    if (!loops_.empty()) {
        loops_.back().thread.request_stop();
    }
    // A cancelled loop that has ended is joined here; one still in its pass is left to finish.
    loops_.remove_if([](const Loop& loop) { return loop.finished->load(); });
    if (!isActive_) {
        return;
    }
    // The first wake-up is fixed before the caller hears back, so a test can move the clock at once.
    const platform::Clock::SteadyTime firstWakeUp = nextWakeUp();
    Loop& loop = loops_.emplace_back();
    loop.thread = std::jthread([this, firstWakeUp, finished = loop.finished](std::stop_token stop) {
        runLoop(stop, firstWakeUp);
        finished->store(true);
    });
}

platform::Clock::SteadyTime LiveSummaryActor::nextWakeUp() {
    return clock_.now() + waitFor(power_.thermalState(), intervalMinutes_);
}

void LiveSummaryActor::runLoop(std::stop_token stop, platform::Clock::SteadyTime firstWakeUp) {
    platform::Clock::SteadyTime wakeUp = firstWakeUp;
    while (platform::sleepUntil(clock_, wakeUp, stop) && !stop.stop_requested()) {
        generateSummaryIfNeeded(PassGates::all, stop);
        wakeUp = executor_.submit([this] { return nextWakeUp(); }).get();
        if (afterPass_) {
            afterPass_();
        }
    }
}

void LiveSummaryActor::generateSummaryIfNeeded(PassGates gates, const std::stop_token& stop) {
    const std::optional<PassStart> start = executor_.submit([this, gates] { return beginPass(gates); }).get();
    if (!start) {
        return;
    }
    std::string ocrContext;
    if (start->screenMonitor) {
        try {
            ocrContext = start->screenMonitor->ocrContextJsonl(start->ocrSince).get();
        } catch (const std::exception& error) {
            log().error("live summary OCR context unavailable: {}", error.what());
        }
    }
    const std::optional<PassWork> work =
        executor_.submit([this, &start, &ocrContext] { return preparePass(*start, std::move(ocrContext)); })
            .get();
    if (!work) {
        return;
    }
    std::string summary;
    std::exception_ptr failure;
    try {
        summary = generator_.makeLiveSummary(work->provider, work->request, work->localModel, stop);
    } catch (...) {
        failure = std::current_exception();
    }
    executor_.submit([this, &start, &summary, &failure] { finishPass(*start, summary, failure); }).get();
}

std::optional<LiveSummaryActor::PassStart> LiveSummaryActor::beginPass(PassGates gates) {
    const bool all = gates == PassGates::all;
    if (isGenerating_ || !sessionDir_ || (!isEnabled_ && all)) {
        return std::nullopt;
    }
    if (all) {
        const ThermalState thermal = power_.thermalState();
        if (thermal >= ThermalState::serious) {
            log().notice("live summary throttled due to thermal state={}",
                         platform::thermalStateName(thermal));
            return std::nullopt;
        }
    }
    const std::string transcript = platform::trimWhitespace(latestTranscript_);
    if (transcript.empty()) {
        return std::nullopt;
    }
    std::string fingerprint = transcriptFingerprint(transcript);
    if (all && fingerprint == lastTranscriptFingerprint_) {
        return std::nullopt;
    }

    isGenerating_ = true;
    publish([](AppState& state) {
        state.updateLiveSummaryPending(true);
        state.updateLiveSummaryError(std::nullopt);
    });
    const double elapsed = std::chrono::duration<double>(clock_.wallNow() - sessionStartedAt_).count();
    const double windowStart = elapsed - transcriptWindowSeconds;
    return PassStart{.session = session_,
                     .fingerprint = std::move(fingerprint),
                     .previous = latestSummary_,
                     .recentTranscript = filterTranscript(transcript, windowStart),
                     .ocrSince = std::max(windowStart, 0.0),
                     .screenMonitor = screenMonitor_};
}

std::optional<LiveSummaryActor::PassWork> LiveSummaryActor::preparePass(const PassStart& start,
                                                                        std::string ocrContext) {
    if (!isCurrent(start.session)) {
        endPass(start.session);
        return std::nullopt;
    }
    return PassWork{.provider = provider_,
                    .request = {.prompt = prompt_,
                                .previous = start.previous,
                                .ocrContext = std::move(ocrContext),
                                .recentTranscript = start.recentTranscript,
                                .outputLanguage = outputLanguage_,
                                .providerModel = providerModel_,
                                .providerBaseURL = providerBaseURL_},
                    .localModel = {.model = localModel_, .path = localModelPath_}};
}

void LiveSummaryActor::finishPass(const PassStart& start, const std::string& summary,
                                  std::exception_ptr failure) {
    if (!isCurrent(start.session)) {
        // Stopped meanwhile: the late result is neither stored nor shown.
        endPass(start.session);
        return;
    }
    const std::string trimmed = platform::trimWhitespace(summary);
    if (!failure && trimmed.empty()) {
        failure = std::make_exception_ptr(NativeSummarizationError::emptySummary());
    }
    if (!failure) {
        latestSummary_ = trimmed;
        lastTranscriptFingerprint_ = start.fingerprint;
        try {
            platform::writeFileAtomically(*sessionDir_ / kLiveSummaryFileName, trimmed + "\n");
            publish([trimmed](AppState& state) {
                state.updateLiveSummary(trimmed);
                state.updateLiveSummaryError(std::nullopt);
            });
        } catch (...) {
            failure = std::current_exception();
        }
    }
    if (failure && isCancellation(failure)) {
        // A restart cancelled the pass; the next one comes after the new wait.
        log().info("live summary cancelled");
    } else if (failure) {
        log().error("live summary failed: {}", platform::describeError(failure));
        publish([message = LiveSummaryGenerator::liveSummaryUserMessage(failure)](AppState& state) {
            state.updateLiveSummaryError(message);
        });
    }
    endPass(start.session);
}

void LiveSummaryActor::endPass(std::uint64_t session) {
    // A pass of a session that was stopped (and perhaps followed by another) leaves the flags to it.
    if (session != session_) {
        return;
    }
    isGenerating_ = false;
    publish([](AppState& state) { state.updateLiveSummaryPending(false); });
}

void LiveSummaryActor::publish(std::function<void(AppState&)> update) {
    main_.post([&state = appState_, update = std::move(update)] { update(state); });
}

std::string LiveSummaryActor::filterTranscript(std::string_view transcript, double sinceElapsedSeconds) {
    if (sinceElapsedSeconds <= 0) {
        return std::string(transcript);
    }
    std::vector<std::string> kept;
    for (std::string& line : platform::splitOn(transcript, "\n")) {
        const auto close = line.find(']');
        const bool stamped = line.starts_with('[') && close != std::string::npos;
        if (stamped && elapsedSeconds(std::string_view(line).substr(1, close - 1)) < sinceElapsedSeconds) {
            continue;
        }
        kept.push_back(std::move(line));
    }
    return platform::joined(kept, "\n");
}

double LiveSummaryActor::elapsedSeconds(std::string_view stamp) {
    std::vector<std::string> pieces;
    for (std::string& piece : platform::splitOn(stamp, ":")) {
        if (!piece.empty()) {
            pieces.push_back(std::move(piece));
        }
    }
    if (pieces.size() != 2) {
        return 0;
    }
    const auto minutes = decimalNumber(pieces[0]);
    const auto seconds = decimalNumber(pieces[1]);
    if (!minutes || !seconds) {
        return 0;
    }
    return *minutes * 60 + *seconds;
}

std::string LiveSummaryActor::transcriptFingerprint(std::string_view trimmedTranscript) {
    const std::string text(trimmedTranscript);
    return std::to_string(platform::characterCount(text)) + ":" +
           lastCharacters(text, kFingerprintTailCharacters);
}

} // namespace velnote
