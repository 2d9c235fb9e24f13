#pragma once

#include "platform/fs/Files.h"
#include "session/folder/SessionMetadataStore.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>

namespace velnote::testing {

// Writes a session folder with a "session.json" created at `createdAt` (seconds since 1970),
// after `edit` has changed the fresh metadata.
inline std::filesystem::path writeSession(const std::filesystem::path& dir, std::int64_t createdAt = 0,
                                          const std::function<void(SessionMetadata&)>& edit = {}) {
    std::filesystem::create_directories(dir);
    SessionMetadata metadata;
    metadata.createdAt = std::chrono::sys_seconds(std::chrono::seconds(createdAt));
    metadata.steps = {StepState::fresh(StepStatus::pending), StepState::fresh(StepStatus::skipped),
                      StepState::fresh(StepStatus::skipped)};
    if (edit)
        edit(metadata);
    SessionMetadataStore::write(metadata, dir);
    return dir;
}

inline void writeText(const std::filesystem::path& file, const std::string& text) {
    std::filesystem::create_directories(file.parent_path());
    platform::writeFileAtomically(file, text);
}

} // namespace velnote::testing
