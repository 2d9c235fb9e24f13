#include "capture/controller/FinalSessionMetadata.h"

#include "session/VelnoteLogger.h"
#include "session/folder/SessionMetadataStore.h"

#include <exception>

namespace velnote {

void FinalSessionMetadata::write(const std::filesystem::path& sessionDir, const SessionConfig& config,
                                 std::optional<double> durationSeconds, const platform::Clock& clock) {
    const auto finish = [&](SessionMetadata& metadata) {
        if (durationSeconds) {
            metadata.recordingDuration = durationSeconds;
        }
        metadata.applyConfig(config);
    };
    try {
        SessionMetadataStore::updateOrRebuild(sessionDir, config, finish, clock);
        VelnoteLogger::processing().info("session.json written: {}", sessionDir.filename().string());
    } catch (const std::exception& e) {
        VelnoteLogger::processing().error("failed to write session.json: {}", e.what());
    }
}

} // namespace velnote
