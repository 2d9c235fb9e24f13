#include "context/activity/engine/ActivityEngine.h"

#include "app/state/AppState.h"
#include "platform/concurrency/MainDispatcher.h"
#include "platform/concurrency/SystemClock.h"
#include "platform/concurrency/ThreadPool.h"
#include "platform/text/CaseMapping.h"
#include "platform/text/Characters.h"
#include "platform/text/Regex.h"
#include "platform/text/Whitespace.h"
#include "session/VelnoteLogger.h"
#include "session/l10n/L10n.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace velnote {

namespace {

struct SemanticCleanRegex {
    platform::Regex regex;
    std::string replacement;
};

// Identifiers, addresses and paths say little about what the user does and would pull otherwise
// equal descriptions apart, so they leave the text before it is embedded.
const std::vector<SemanticCleanRegex>& semanticCleanRegexes() {
    static const std::vector<SemanticCleanRegex> compiled = [] {
        struct Row {
            const char* pattern;
            bool caseInsensitive;
            const char* replacement;
        };
        const Row rows[] = {
            {R"(https?://\S+)", false, ""},           {R"([0-9a-f]{8,}[-_]?[0-9a-f]*)", true, ""},
            {R"([A-Za-z0-9+/]{32,})", false, ""},     {R"([A-Z0-9._%+-]+@[A-Z0-9.-]+\.[A-Z]{2,})", true, ""},
            {R"((/[A-Za-z0-9._-]+){3,})", false, ""}, {R"(\s{2,})", false, " "},
        };
        std::vector<SemanticCleanRegex> out;
        for (const Row& row : rows) {
            try {
                out.push_back({platform::Regex(row.pattern, {.caseInsensitive = row.caseInsensitive}),
                               row.replacement});
            } catch (const platform::RegexError& e) {
                VelnoteLogger::app().error("invalid regex pattern: {}", e.what());
            }
        }
        return out;
    }();
    return compiled;
}

std::optional<std::string> trimmed(const std::optional<std::string>& value) {
    if (!value) {
        return std::nullopt;
    }
    std::string t = platform::trimWhitespace(*value);
    if (t.empty()) {
        return std::nullopt;
    }
    return t;
}

bool contains(const std::vector<std::string>& list, const std::string& value) {
    return std::find(list.begin(), list.end(), value) != list.end();
}

void addOnce(std::vector<std::string>& list, const std::string& value) {
    if (!contains(list, value)) {
        list.push_back(value);
    }
}

double dot(const std::vector<double>& a, const std::vector<double>& b) {
    if (a.empty() || a.size() != b.size()) {
        return 0;
    }
    double sum = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        sum += a[i] * b[i];
    }
    return sum;
}

double secondsBetween(ActivityTime from, ActivityTime to) {
    return std::chrono::duration<double>(to - from).count();
}

std::string serial(const char* format, std::int64_t value) {
    char text[32];
    std::snprintf(text, sizeof text, format, static_cast<long long>(value));
    return text;
}

void publishToAppState(std::optional<LiveActivityInfo> info) {
    platform::MainDispatcher::shared().post(
        [info = std::move(info)] { AppState::shared().updateLiveActivity(info); });
}

} // namespace

std::shared_ptr<ActivityEngine> ActivityEngine::make(std::filesystem::path stateURL,
                                                     std::filesystem::path historyURL,
                                                     Dependencies dependencies) {
    return std::shared_ptr<ActivityEngine>(
        new ActivityEngine(std::move(stateURL), std::move(historyURL), std::move(dependencies)));
}

ActivityEngine::ActivityEngine(std::filesystem::path stateURL, std::filesystem::path historyURL,
                               Dependencies dependencies)
    : stateURL_(std::move(stateURL)), historyURL_(std::move(historyURL)),
      embeddings_(dependencies.embeddings ? *dependencies.embeddings : DescriptionEmbeddingService::shared()),
      intents_(dependencies.intents ? *dependencies.intents : ActivityIntentInferenceService::shared()),
      clock_(dependencies.clock ? *dependencies.clock : platform::SystemClock::shared()),
      inferenceExecutor_(dependencies.inferenceExecutor
                             ? *dependencies.inferenceExecutor
                             : platform::ThreadPool::shared().executor(platform::Priority::utility)),
      publish_(dependencies.publish ? std::move(dependencies.publish) : publishToAppState) {}

ActivityEngine::~ActivityEngine() = default;

std::future<void> ActivityEngine::process(ActivitySourceEvent event) {
    return executor_.submit([this, event = std::move(event)] { processOnExecutor(event); });
}

std::future<void> ActivityEngine::flush(bool force) {
    return executor_.submit([this, force] {
        const ActivityTime now = wallNow();
        refreshStatuses(now, force);
        writeStateSnapshot(now, force);
    });
}

std::future<std::vector<ActivityState>> ActivityEngine::activities() {
    return executor_.submit([this] {
        std::vector<ActivityState> out;
        for (const auto& [id, activity] : activities_) {
            out.push_back(activity);
        }
        return out;
    });
}

std::future<std::vector<RingBufferEvent>> ActivityEngine::ringBuffer() {
    return executor_.submit([this] { return ringBuffer_; });
}

ActivityTime ActivityEngine::wallNow() const {
    return std::chrono::floor<std::chrono::milliseconds>(clock_.wallNow());
}

void ActivityEngine::processOnExecutor(const ActivitySourceEvent& event) {
    if (!(event.confidence >= kConfidenceGate)) {
        return;
    }
    const auto time = parseActivityTime(event.timestamp);
    if (!time) {
        return;
    }
    std::string description = platform::trimWhitespace(event.description);
    if (description.empty()) {
        return;
    }
    std::vector<double> embedding =
        embeddings_.embedding(semanticDescription(description, event.service, event.screenType)).get();
    const std::string eventID = serial("e%08lld", nextEventSerial_++);
    const EventContext context{.timestamp = *time,
                               .appName = event.appName,
                               .bundleID = event.bundleID,
                               .service = event.service,
                               .screenType = event.screenType,
                               .description = std::move(description),
                               .embedding = std::move(embedding)};
    const std::string id = findOrCreateActivity(context);
    updateActivity(id, context);
    ringBuffer_.push_back({.eventID = eventID, .timestamp = *time, .activityID = id});
    while (ringBuffer_.size() > kRingBufferMaxCount) {
        ringBuffer_.erase(ringBuffer_.begin());
    }
    refreshStatuses(*time, false);
    writeStateSnapshot(*time, false);
    if (shouldRunLLMInference(id, *time)) {
        runLLMInference(id);
    }
}

std::string ActivityEngine::semanticDescription(const std::string& description,
                                                const std::optional<std::string>& service,
                                                const std::optional<std::string>& screenType) {
    std::string text = description;
    for (const auto& row : semanticCleanRegexes()) {
        try {
            text = row.regex.replaceAll(text, row.replacement);
        } catch (const platform::RegexError& e) {
            VelnoteLogger::app().error("ActivityEngine: cleaning failed: {}", e.what());
        }
    }
    std::replace(text.begin(), text.end(), '\n', ' ');
    std::replace(text.begin(), text.end(), '\t', ' ');
    text = platform::prefixCharacters(platform::trimSpacesAndTabs(text), 160);
    std::string out;
    for (const auto& part : {std::optional<std::string>(text), service, screenType}) {
        if (!part) {
            continue;
        }
        const std::string piece = platform::trimSpacesAndTabs(*part);
        if (piece.empty()) {
            continue;
        }
        out += out.empty() ? piece : " | " + piece;
    }
    return out;
}

std::string ActivityEngine::findOrCreateActivity(const EventContext& context) {
    const ActivityTime t = context.timestamp;
    const auto svc =
        context.service ? std::optional(platform::trimSpacesAndTabs(*context.service)) : std::nullopt;
    const auto scr =
        context.screenType ? std::optional(platform::trimSpacesAndTabs(*context.screenType)) : std::nullopt;
    const std::string lowerName = platform::lowercased(context.appName);
    double bestScore = -1;
    std::optional<std::string> bestID;
    for (const auto& [id, activity] : activities_) {
        if (activity.status == ActivityStatus::finalized) {
            continue;
        }
        const double s = dot(context.embedding, activity.centerEmbedding);
        const double threshold = activity.eventCount >= 31 ? kLargeActivityThreshold : kSimilarityThreshold;
        const bool serviceKnown = svc && contains(activity.services, *svc);
        const bool screenKnown = scr && contains(activity.screenTypes, *scr);
        const bool strong = !context.bundleID.empty() && contains(activity.appsUsed, context.bundleID) &&
                            serviceKnown && screenKnown;
        const double needed = strong ? std::max(threshold - 0.1, 0.6) : threshold;
        if (s < needed) {
            continue;
        }
        const double recency =
            std::max(0.0, 1 - secondsBetween(activity.lastUpdateTime, t) / kRecencyDecayWindow);
        const double age =
            std::max(0.5, 1 - 0.5 * secondsBetween(activity.startTime, t) / kMaxActivityAffinityDuration);
        double score = 0.65 * s + 0.2 * recency + 0.1 * age;
        score += strong ? 0.1 : 0;
        score += svc && !svc->empty() && serviceKnown ? 0.05 : 0;
        score += scr && !scr->empty() && screenKnown ? 0.05 : 0;
        score += contains(activity.appNames, lowerName) ? 0.03 : 0;
        if (score > bestScore) {
            bestScore = score;
            bestID = id;
        }
    }
    if (bestID) {
        return *bestID;
    }
    ActivityState created;
    created.id = serial("act_%06lld", nextActivitySerial_++);
    created.startTime = t;
    created.lastUpdateTime = t;
    created.appsUsed = {context.bundleID};
    created.appNames = {lowerName};
    if (const auto service = trimmed(context.service)) {
        created.services = {*service};
    }
    if (const auto screen = trimmed(context.screenType)) {
        created.screenTypes = {*screen};
    }
    created.centerEmbedding = context.embedding;
    created.embeddingHistory = {context.embedding};
    const std::string id = created.id;
    activities_.emplace(id, std::move(created));
    return id;
}

void ActivityEngine::updateActivity(const std::string& id, const EventContext& context) {
    const auto found = activities_.find(id);
    if (found == activities_.end()) {
        return;
    }
    ActivityState& activity = found->second;
    activity.lastUpdateTime = context.timestamp;
    activity.eventCount += 1;
    activity.status = ActivityStatus::active;
    addOnce(activity.appsUsed, context.bundleID);
    addOnce(activity.appNames, platform::lowercased(context.appName));
    if (const auto service = trimmed(context.service)) {
        addOnce(activity.services, *service);
    }
    if (const auto screen = trimmed(context.screenType)) {
        addOnce(activity.screenTypes, *screen);
    }
    activity.descriptions.push_back(context.description);
    if (activity.descriptions.size() > 20) {
        activity.descriptions.erase(activity.descriptions.begin());
    }
    activity.embeddingHistory.insert(activity.embeddingHistory.begin(), context.embedding);
    if (activity.embeddingHistory.size() > 12) {
        activity.embeddingHistory.pop_back();
    }
    activity.centerEmbedding = weightedCentroid(activity.embeddingHistory);
}

std::vector<double> ActivityEngine::weightedCentroid(const std::vector<std::vector<double>>& rows) {
    if (rows.empty()) {
        return {};
    }
    const std::size_t dimension = rows.front().size();
    std::vector<double> sum(dimension, 0.0);
    double totalWeight = 0;
    double weight = 1;
    for (const auto& row : rows) {
        if (row.size() == dimension) {
            for (std::size_t i = 0; i < dimension; ++i) {
                sum[i] += weight * row[i];
            }
            totalWeight += weight;
        }
        weight *= 0.92;
    }
    for (double& x : sum) {
        x /= totalWeight;
    }
    return normalizeVec(std::move(sum));
}

void ActivityEngine::refreshStatuses(ActivityTime referenceTime, bool forceFinalize) {
    std::vector<std::string> finalize;
    std::vector<std::string> infer;
    for (auto& [id, activity] : activities_) {
        const double idle = secondsBetween(activity.lastUpdateTime, referenceTime);
        if (forceFinalize || idle >= kFinalizeIdleSeconds) {
            activity.status = ActivityStatus::finalized;
            finalize.push_back(id);
        } else if (idle >= kSoftFinalizeIdleSeconds) {
            activity.status = ActivityStatus::softFinalized;
            if (!activity.lastInferenceTime) {
                infer.push_back(id);
            }
        }
    }
    for (const auto& id : finalize) {
        appendFinalizedActivity(id);
        activities_.erase(id);
        std::erase_if(ringBuffer_, [&](const RingBufferEvent& e) { return e.activityID == id; });
    }
    for (const auto& id : infer) {
        runLLMInference(id);
    }
}

bool ActivityEngine::shouldRunLLMInference(const std::string& id, ActivityTime now) const {
    const auto found = activities_.find(id);
    if (found == activities_.end()) {
        return false;
    }
    const ActivityState& activity = found->second;
    const std::int64_t fresh = activity.eventCount - activity.lastInferenceEventCount;
    if (!activity.lastInferenceTime) {
        return fresh >= kReInferenceMinEvents;
    }
    if (fresh >= kReInferenceMinEvents &&
        secondsBetween(*activity.lastInferenceTime, now) >= kReInferenceMinSeconds) {
        return true;
    }
    if (activity.lastInferenceEmbedding) {
        const auto& last = *activity.lastInferenceEmbedding;
        const bool drifted = last.size() != activity.centerEmbedding.size() || last.empty() ||
                             dot(last, activity.centerEmbedding) < kDriftThreshold;
        return drifted && fresh >= 2;
    }
    return false;
}

// Marks the activity before asking, so the same conditions must hold again before the next ask;
// the answer comes back as a job of the engine, which drops it when the activity is gone.
void ActivityEngine::runLLMInference(const std::string& id) {
    const auto found = activities_.find(id);
    if (found == activities_.end() || found->second.status == ActivityStatus::finalized) {
        return;
    }
    ActivityState& activity = found->second;
    activity.lastInferenceTime = wallNow();
    activity.lastInferenceEventCount = activity.eventCount;
    activity.lastInferenceEmbedding = activity.centerEmbedding;
    const auto& all = activity.descriptions;
    ActivityIntentInferenceService::IntentContext context{
        .appName = activity.appNames.empty() ? "" : activity.appNames.back(),
        .bundleID = activity.appsUsed.empty() ? "" : activity.appsUsed.back(),
        .descriptions = {all.size() > 8 ? all.end() - 8 : all.begin(), all.end()},
        .services = activity.services,
        .screenTypes = activity.screenTypes};
    inferenceExecutor_.post([weak = weak_from_this(), intents = &intents_, id, context = std::move(context)] {
        if (weak.expired()) {
            return;
        }
        const auto result = intents->infer(context);
        if (!result) {
            return;
        }
        if (const auto engine = weak.lock()) {
            ActivityEngine* raw = engine.get();
            raw->executor_.post([raw, id, result = *result] { raw->applyInference(id, result); });
        }
    });
}

void ActivityEngine::applyInference(const std::string& id,
                                    const ActivityIntentInferenceService::IntentResult& result) {
    const auto found = activities_.find(id);
    if (found == activities_.end()) {
        return;
    }
    found->second.intent = result.intent;
    found->second.purpose = result.purpose;
    writeStateSnapshot(wallNow(), false);
}

std::optional<LiveActivityInfo>
ActivityEngine::latestActivityInfo(const std::map<std::string, ActivityState>& activities) {
    const ActivityState* latest = nullptr;
    for (const auto& [id, activity] : activities) {
        if (activity.status == ActivityStatus::finalized) {
            continue;
        }
        if (!latest || activity.lastUpdateTime > latest->lastUpdateTime) {
            latest = &activity;
        }
    }
    if (!latest) {
        return std::nullopt;
    }
    const double seconds =
        std::max(0.0, std::round(secondsBetween(latest->startTime, latest->lastUpdateTime)));
    const auto minutes = std::max<std::int64_t>(1, static_cast<std::int64_t>(std::round(seconds / 60)));
    LiveActivityInfo info;
    info.purpose = latest->purpose.empty() ? fallbackSummary(*latest) : latest->purpose;
    if (!latest->intent.empty()) {
        info.summary =
            L10n::localized("L10n.Activity.summaryIntentMinutes", "%@ / %d min", {latest->intent, minutes});
    } else {
        info.summary = L10n::localized("L10n.Activity.summaryFromTime", "from %@ for %d min",
                                       {formatLocalHourMinute(latest->startTime), minutes});
    }
    info.workState = workStateString(*latest);
    return info;
}

std::string ActivityEngine::workStateString(const ActivityState& activity) {
    switch (activity.status) {
    case ActivityStatus::softFinalized:
        return L10n::localized("L10n.Activity.statusSoftFinalized", "Paused");
    case ActivityStatus::finalized:
        return L10n::localized("L10n.Activity.statusFinalized", "Completed");
    case ActivityStatus::active:
        break;
    }
    const double span = secondsBetween(activity.startTime, activity.lastUpdateTime);
    if (span > 0 && static_cast<double>(activity.eventCount) / (span / 60) >= 3) {
        return L10n::localized("L10n.Activity.statusFocused", "Focused");
    }
    return L10n::localized("L10n.Activity.statusWorking", "Working");
}

} // namespace velnote
