#pragma once

#include <QSocketNotifier>
#include <functional>
#include <memory>

namespace velnote {

// Turns SIGTERM, SIGINT and SIGHUP (a logout, Ctrl+C, a closed terminal) into the application's
// ordinary quit request, so a running recording is stopped and queued instead of cut off. The
// handler only writes a byte to a pipe; `quit` runs from the event loop. One instance per process;
// while it lives it owns those signals' dispositions.
class UnixSignalQuit {
  public:
    explicit UnixSignalQuit(std::function<void()> quit);
    ~UnixSignalQuit();

    UnixSignalQuit(const UnixSignalQuit&) = delete;
    UnixSignalQuit& operator=(const UnixSignalQuit&) = delete;

  private:
    std::function<void()> quit_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

} // namespace velnote
