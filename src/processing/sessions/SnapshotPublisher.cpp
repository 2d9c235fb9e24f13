#include "processing/sessions/SnapshotPublisher.h"

#include "app/state/AppState.h"
#include "platform/concurrency/MainDispatcher.h"
#include "platform/concurrency/SystemClock.h"
#include "session/VelnoteLogger.h"

#include <bit>
#include <string_view>

namespace velnote {
namespace {

// FNV-1a over length-prefixed fields, so "ab"+"c" and "a"+"bc" differ.
class Hasher {
  public:
    void bytes(const void* data, std::size_t size) {
        const auto* p = static_cast<const unsigned char*>(data);
        for (std::size_t i = 0; i < size; ++i) {
            hash_ = (hash_ ^ p[i]) * 1099511628211ull;
        }
    }
    void integer(std::uint64_t value) { bytes(&value, sizeof value); }
    void text(std::string_view value) {
        integer(value.size());
        bytes(value.data(), value.size());
    }
    void flag(bool value) {
        const unsigned char byte = value ? 1 : 0;
        bytes(&byte, 1);
    }
    std::uint64_t value() const { return hash_; }

  private:
    std::uint64_t hash_ = 14695981039346656037ull;
};

void feedStep(Hasher& h, const StepState& step) {
    h.text(rawValue(step.status));
    h.text(step.error.value_or(""));
}

} // namespace

SnapshotPublisher::SnapshotPublisher(Dependencies dependencies) : dependencies_(std::move(dependencies)) {
    if (!dependencies_.clock)
        dependencies_.clock = &platform::SystemClock::shared();
    if (!dependencies_.mainDispatcher)
        dependencies_.mainDispatcher = &platform::MainDispatcher::shared();
    if (!dependencies_.publish) {
        dependencies_.publish = [](Snapshots list) {
            AppState::shared().setSessionSnapshots(std::move(list));
        };
    }
}

bool SnapshotPublisher::push(SnapshotPush push, const std::function<Snapshots()>& build) {
    const bool force = push == SnapshotPush::forced;
    const auto now = dependencies_.clock->now();
    {
        std::lock_guard lock(mutex_);
        if (!force && lastPublishAt_ && now - *lastPublishAt_ < kMinInterval)
            return false;
    }
    auto snapshots = build();
    const auto print = fingerprint(snapshots);
    {
        std::lock_guard lock(mutex_);
        lastPublishAt_ = now;
        if (!force && lastFingerprint_ == print)
            return false;
        lastFingerprint_ = print;
    }
    const auto& log = VelnoteLogger::processing();
    log.info("pushSnapshotsToAppState snapshots={}", snapshots.size());
    if (snapshots.size() <= 20) {
        std::string ids;
        for (const auto& s : snapshots)
            ids += (ids.empty() ? "" : ", ") + s.dirName;
        log.debug("pushSnapshotsToAppState ids={}", ids);
    }
    dependencies_.mainDispatcher->post([publish = dependencies_.publish,
                                        list = std::move(snapshots)]() mutable { publish(std::move(list)); });
    return true;
}

std::uint64_t SnapshotPublisher::fingerprint(const Snapshots& snapshots) {
    Hasher h;
    h.integer(snapshots.size());
    for (const auto& s : snapshots) {
        h.text(s.id.string());
        h.integer(static_cast<std::uint64_t>(s.createdAt.time_since_epoch().count()));
        feedStep(h, s.transcription);
        feedStep(h, s.diarization);
        feedStep(h, s.summary);
        for (bool flag : {s.isRunning, s.isPending, s.isClosed, s.isMediaDeleted, s.hasLock})
            h.flag(flag);
        h.text(s.summaryHeadline.value_or(""));
        h.integer(std::bit_cast<std::uint64_t>(s.recordingDuration.value_or(0.0)));
        const auto& c = s.config;
        h.text(c.transcription.whisperModel);
        h.text(c.summary.provider);
        h.text(c.transcription.language.value_or(""));
        h.text(c.outputLanguage);
        h.flag(c.transcription.diarizationEnabled);
        h.integer(static_cast<std::uint64_t>(c.transcription.numberOfSpeakers.value_or(-1)));
    }
    return h.value();
}

} // namespace velnote
