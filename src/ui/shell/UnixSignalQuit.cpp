#include "ui/shell/UnixSignalQuit.h"

#include "session/VelnoteLogger.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace velnote {
namespace {

std::array<int, 2> signalPipe{-1, -1};
constexpr std::array<int, 3> kSignals{SIGTERM, SIGINT, SIGHUP};

void onSignal(int signal) {
    const int saved = errno;
    const char byte = static_cast<char>(signal);
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[0], &byte, 1);
    errno = saved;
}

} // namespace

UnixSignalQuit::UnixSignalQuit(std::function<void()> quit) : quit_(std::move(quit)) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, signalPipe.data()) != 0) {
        VelnoteLogger::app().error("signals will end the application abruptly: {}", std::strerror(errno));
        return;
    }
    notifier_ = std::make_unique<QSocketNotifier>(signalPipe[1], QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(), [this] {
        char bytes[16];
        while (::read(signalPipe[1], bytes, sizeof bytes) > 0) {
        }
        VelnoteLogger::app().info("quit requested by a signal");
        quit_();
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : kSignals) {
        ::sigaction(signal, &action, nullptr);
    }
}

UnixSignalQuit::~UnixSignalQuit() {
    for (const int signal : kSignals) {
        std::signal(signal, SIG_DFL);
    }
    notifier_.reset();
    for (int& fd : signalPipe) {
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
    }
}

} // namespace velnote
