#pragma once

#include <cstdlib>
#include <functional>
#include <optional>
#include <pwd.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

namespace velnote::testing {

// Runs `check` in a child process that has no home folder: HOME and the XDG folder variables
// unset, and a user id the password database does not know. The answer is what `check` returned
// (false when it threw); std::nullopt when this process may not take such a user id (not root).
inline std::optional<bool> checkWithoutHome(const std::function<bool()>& check) {
    if (::geteuid() != 0)
        return std::nullopt;
    uid_t stranger = 54321;
    while (::getpwuid(stranger) != nullptr)
        ++stranger;
    const pid_t child = ::fork();
    if (child == 0) {
        for (const char* name : {"HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_CONFIG_HOME"})
            ::unsetenv(name);
        bool passed = false;
        try {
            passed = ::setuid(stranger) == 0 && check();
        } catch (...) {
        }
        ::_exit(passed ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace velnote::testing
