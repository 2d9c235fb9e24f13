#include "app/shell/SingleInstanceLock.h"

#include "platform/fs/Files.h"
#include "support/TempDir.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace velnote {
namespace {
namespace fs = std::filesystem;

// Another process holding the lock, as a second launch meets it. Only async-signal-safe calls in
// the child: the test process has threads.
class LockHolder {
  public:
    explicit LockHolder(const fs::path& file) {
        int ready[2];
        EXPECT_EQ(::pipe(ready), 0);
        EXPECT_EQ(::pipe(release_), 0);
        pid_ = ::fork();
        if (pid_ == 0) {
            const int fd = ::open(file.c_str(), O_RDWR | O_CREAT, 0600);
            struct flock lock {};
            lock.l_type = F_WRLCK;
            lock.l_whence = SEEK_SET;
            const char ok = (fd >= 0 && ::fcntl(fd, F_SETLK, &lock) == 0) ? '1' : '0';
            [[maybe_unused]] ssize_t n = ::write(ready[1], &ok, 1);
            char byte;
            n = ::read(release_[0], &byte, 1);
            ::_exit(0);
        }
        char ok = '0';
        EXPECT_EQ(::read(ready[0], &ok, 1), 1);
        EXPECT_EQ(ok, '1');
        ::close(ready[0]);
        ::close(ready[1]);
    }
    ~LockHolder() {
        [[maybe_unused]] ssize_t n = ::write(release_[1], "x", 1);
        ::waitpid(pid_, nullptr, 0);
        ::close(release_[0]);
        ::close(release_[1]);
    }

  private:
    pid_t pid_ = -1;
    int release_[2] = {-1, -1};
};

TEST(SingleInstanceLockTest, TheHolderWritesItsProcessIdOverWhateverTheFileHeld) {
    testing::TempDir dir;
    const fs::path appSupport = dir / "Velnote"; // created by the lock
    platform::createDirectories(appSupport);
    platform::writeFileAtomically(appSupport / ".instance.lock", "99999999999 left by a process long gone\n");

    EXPECT_TRUE(SingleInstanceLock::acquire(appSupport));
    EXPECT_EQ(platform::readFile(appSupport / ".instance.lock"), std::to_string(::getpid()) + "\n");
    EXPECT_GE(SingleInstanceLock::lockFileDescriptor(), 0);
    EXPECT_EQ(fs::status(appSupport / ".instance.lock").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
}

TEST(SingleInstanceLockTest, ALockHeldByAnotherProcessStopsTheLaunchAndLeavesItsFileAlone) {
    testing::TempDir dir;
    platform::writeFileAtomically(dir / ".instance.lock", "4242\n");
    LockHolder other(dir / ".instance.lock");

    EXPECT_FALSE(SingleInstanceLock::acquire(dir.path()));
    EXPECT_EQ(platform::readFile(dir / ".instance.lock"), "4242\n");
}

TEST(SingleInstanceLockTest, WithoutAUsableLockFileTheLaunchGoesOnUnlocked) {
    testing::TempDir dir;
    EXPECT_TRUE(SingleInstanceLock::acquire(std::nullopt)); // no data folder at all
    // A folder where the lock file should be cannot be opened read-write.
    platform::createDirectories(dir / "Velnote" / ".instance.lock");
    EXPECT_TRUE(SingleInstanceLock::acquire(dir / "Velnote"));
    // Nor can a link planted in its place: it is not followed.
    fs::create_symlink(dir / "elsewhere", dir / ".instance.lock");
    EXPECT_TRUE(SingleInstanceLock::acquire(dir.path()));
    EXPECT_FALSE(fs::exists(dir / "elsewhere"));
}

} // namespace
} // namespace velnote
