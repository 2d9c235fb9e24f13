#include "session/folder/SessionMetadataStore.h"

#include "platform/fs/Files.h"
#include "session/VelnoteLogger.h"

#include <cmath>
#include <stdexcept>
#include <system_error>

namespace velnote {
namespace fs = std::filesystem;
using platform::Json;

namespace {

// nlohmann writes NaN and infinities as null, which would make the file
// undecodable later; refuse them instead.
void requireFinite(const Json& value, const std::string& path) {
    if (value.is_number_float() && !std::isfinite(value.get<double>())) {
        throw std::invalid_argument("session.json: non-finite number at " + path);
    }
    if (value.is_object()) {
        for (const auto& [key, member] : value.items())
            requireFinite(member, path.empty() ? key : path + "." + key);
    } else if (value.is_array()) {
        for (std::size_t i = 0; i < value.size(); ++i)
            requireFinite(value[i], path + "[" + std::to_string(i) + "]");
    }
}

// The first free name for keeping an unreadable file beside the new one.
fs::path keptFileName(const fs::path& file) {
    const fs::path base = file.string() + ".unreadable";
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(base, ec)))
        return base;
    for (int n = 2; n <= 999; ++n) {
        fs::path candidate = base.string() + "_" + std::to_string(n);
        if (!fs::exists(fs::symlink_status(candidate, ec)))
            return candidate;
    }
    throw std::system_error(std::make_error_code(std::errc::file_exists),
                            "no free name to keep " + file.string());
}

} // namespace

std::mutex& SessionMetadataStore::updateLock() {
    static std::mutex lock;
    return lock;
}

fs::path SessionMetadataStore::fileIn(const fs::path& sessionDir) {
    return sessionDir / "session.json";
}

std::string SessionMetadataStore::encode(const SessionMetadata& metadata) {
    const Json j = metadata;
    requireFinite(j, "");
    return platform::toPrettyJson(j);
}

SessionMetadata SessionMetadataStore::decode(std::string_view bytes) {
    return platform::decode<SessionMetadata>(platform::parseJson(bytes));
}

SessionMetadata SessionMetadataStore::read(const fs::path& sessionDir) {
    return decode(platform::readRegularFile(fileIn(sessionDir), kMaxFileBytes));
}

void SessionMetadataStore::update(const fs::path& sessionDir, const Mutation& mutation) {
    std::lock_guard lock(updateLock());
    SessionMetadata metadata = read(sessionDir);
    mutation(metadata);
    platform::writeFileAtomically(fileIn(sessionDir), encode(metadata));
}

void SessionMetadataStore::write(const SessionMetadata& metadata, const fs::path& sessionDir) {
    platform::writeFileAtomically(fileIn(sessionDir), encode(metadata));
}

std::optional<fs::path> SessionMetadataStore::updateOrRebuild(const fs::path& sessionDir,
                                                              const SessionConfig& config,
                                                              const Mutation& mutation,
                                                              const platform::Clock& clock) {
    const fs::path file = fileIn(sessionDir);
    std::lock_guard lock(updateLock());

    std::optional<std::string> bytes;
    std::optional<SessionMetadata> decoded;
    std::string problem;
    bool present = true;
    try {
        bytes = platform::readRegularFile(file, kMaxFileBytes);
        decoded = decode(*bytes);
    } catch (const platform::JsonDecodeError& e) {
        problem = e.what();
    } catch (const std::system_error& e) {
        present = e.code() != std::errc::no_such_file_or_directory;
        problem = e.what();
    }
    if (decoded) {
        mutation(*decoded);
        platform::writeFileAtomically(file, encode(*decoded));
        return std::nullopt;
    }

    SessionMetadata rebuilt = SessionMetadata::initial(config, clock);
    mutation(rebuilt);
    const std::string encoded = encode(rebuilt);

    std::optional<fs::path> kept;
    if (present) {
        kept = keptFileName(file);
        if (bytes) {
            platform::writeFileAtomically(*kept, *bytes);
        } else {
            fs::rename(file, *kept); // unreadable to us; moving it keeps it whole
        }
        VelnoteLogger::app().error("session.json unusable, rebuilt: {}: kept old file as {}: {}",
                                   sessionDir.filename().string(), kept->filename().string(), problem);
    }
    platform::writeFileAtomically(file, encoded);
    return kept;
}

} // namespace velnote
