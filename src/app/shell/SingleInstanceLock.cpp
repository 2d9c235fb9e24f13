#include "app/shell/SingleInstanceLock.h"

#include "platform/fs/Files.h"
#include "session/VelnoteLogger.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace velnote {
namespace fs = std::filesystem;

namespace {
std::atomic<int> heldDescriptor{-1};
}

bool SingleInstanceLock::acquire(const std::optional<fs::path>& appSupportDir) {
    if (!appSupportDir) {
        return true;
    }
    try {
        platform::createDirectories(*appSupportDir);
    } catch (const fs::filesystem_error& e) {
        VelnoteLogger::app().error("failed to create app support directory: {}", e.code().message());
    }
    const fs::path file = *appSupportDir / kFileName;
    // O_NOFOLLOW: a link planted in our folder must not make us truncate some other file.
    const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        VelnoteLogger::app().error("failed to open {}: {}", file.string(), std::strerror(errno));
        return true;
    }
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0; // the whole file
    if (::fcntl(fd, F_SETLK, &lock) != 0) {
        ::close(fd);
        return false;
    }
    const std::string pidLine = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd, 0) != 0 ||
        ::pwrite(fd, pidLine.data(), pidLine.size(), 0) != static_cast<ssize_t>(pidLine.size())) {
        // The lock itself holds; only the informative pid line is missing.
        VelnoteLogger::app().error("failed to write {}: {}", file.string(), std::strerror(errno));
    }
    const int previous = heldDescriptor.exchange(fd);
    if (previous >= 0) {
        // A second acquire in this process: both descriptors share the lock; closing the older one
        // would drop it (record locks go with any close of the file), so it stays open too.
        VelnoteLogger::app().info("instance lock taken again by the same process");
    }
    return true;
}

int SingleInstanceLock::lockFileDescriptor() {
    return heldDescriptor.load();
}

} // namespace velnote
