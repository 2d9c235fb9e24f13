#pragma once

#include <csignal>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace velnote::testing {

// A program started from PATH with the test's environment, ended (SIGTERM) and reaped by its
// process id when the object goes, unless it has been waited for already.
class ChildProcess {
  public:
    explicit ChildProcess(std::vector<std::string> argv) {
        std::vector<char*> args;
        for (std::string& arg : argv)
            args.push_back(arg.data());
        args.push_back(nullptr);
        if (::posix_spawnp(&pid_, args[0], nullptr, nullptr, args.data(), environ) != 0) {
            throw std::runtime_error("cannot start " + argv.front());
        }
    }
    ~ChildProcess() { terminate(); }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }

    // Sends SIGTERM and reaps it.
    void terminate() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            wait();
        }
    }
    // Waits for the end; the exit status, or -1 when it was killed or already reaped.
    int wait() {
        if (pid_ <= 0)
            return -1;
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

  private:
    pid_t pid_ = -1;
};

} // namespace velnote::testing
