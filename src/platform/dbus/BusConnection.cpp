#include "platform/dbus/BusConnection.h"

#include <cerrno>
#include <poll.h>
#include <sys/eventfd.h>
#include <system_error>
#include <systemd/sd-bus.h>
#include <unistd.h>

namespace velnote::platform {

void BusConnection::BusUnref::operator()(sd_bus* bus) const {
    sd_bus_flush_close_unref(bus);
}
void BusConnection::SlotUnref::operator()(sd_bus_slot* slot) const {
    sd_bus_slot_unref(slot);
}

BusConnection::BusConnection(Kind kind) {
    sd_bus* bus = nullptr;
    const int r = kind == Kind::session ? sd_bus_open_user(&bus) : sd_bus_open_system(&bus);
    if (r < 0) {
        throw std::system_error(-r, std::generic_category(), "cannot connect to the message bus");
    }
    bus_.reset(bus);
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0) {
        throw std::system_error(errno, std::generic_category(), "eventfd");
    }
}

BusConnection::~BusConnection() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wakeDispatch();
    if (thread_.joinable()) {
        thread_.join();
    }
    slots_.clear();
    ::close(wakeFd_);
}

void BusConnection::withBus(const std::function<void(sd_bus*)>& use) {
    {
        std::lock_guard lock(mutex_);
        use(bus_.get());
    }
    wakeDispatch();
}

void BusConnection::addSlot(const std::function<int(sd_bus*, sd_bus_slot**)>& install) {
    int result = 0;
    withBus([&](sd_bus* bus) {
        sd_bus_slot* slot = nullptr;
        result = install(bus, &slot);
        if (result >= 0 && slot != nullptr) {
            slots_.emplace_back(slot);
        }
    });
    if (result < 0) {
        throw std::system_error(-result, std::generic_category(), "sd-bus");
    }
}

void BusConnection::startDispatching() {
    thread_ = std::thread([this] { dispatchLoop(); });
}

void BusConnection::wakeDispatch() {
    const std::uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(wakeFd_, &one, sizeof one);
}

void BusConnection::dispatchLoop() {
    for (;;) {
        pollfd fds[2] = {{-1, 0, 0}, {wakeFd_, POLLIN, 0}};
        int timeoutMs = -1;
        {
            std::lock_guard lock(mutex_);
            if (stopping_) {
                return;
            }
            // Handle everything queued, including what a blocking call read while it waited.
            int r = 0;
            while ((r = sd_bus_process(bus_.get(), nullptr)) > 0) {
            }
            if (r < 0) {
                return; // the connection is gone; nothing more will arrive
            }
            fds[0].fd = sd_bus_get_fd(bus_.get());
            fds[0].events = static_cast<short>(sd_bus_get_events(bus_.get()));
            std::uint64_t usec = 0;
            if (sd_bus_get_timeout(bus_.get(), &usec) >= 0 && usec != UINT64_MAX) {
                timeoutMs = 10; // a deadline is pending inside sd-bus; look again soon
            }
        }
        ::poll(fds, 2, timeoutMs);
        if (fds[1].revents & POLLIN) {
            std::uint64_t count = 0;
            [[maybe_unused]] auto read = ::read(wakeFd_, &count, sizeof count);
        }
    }
}

} // namespace velnote::platform
