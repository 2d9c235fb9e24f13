#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

struct sd_bus;
struct sd_bus_slot;

namespace velnote::platform {

// One sd-bus connection shared by a caller's threads and a dispatch thread of its own.
//
// sd-bus objects are not thread-safe, so every use of the bus goes through withBus(), which holds
// the connection's lock; the dispatch thread takes the same lock to process incoming messages
// (signals, method calls to objects served here), and runs their handlers with it held. Handlers
// therefore must not block: they read the message and post work elsewhere.
class BusConnection {
  public:
    enum class Kind {
        session, // DBUS_SESSION_BUS_ADDRESS (the tests' private bus)
        system,  // logind and the other system services
    };

    // Connects. Throws std::system_error when the bus cannot be reached.
    explicit BusConnection(Kind kind);
    // Stops the dispatch thread, then flushes and closes the connection.
    ~BusConnection();

    BusConnection(const BusConnection&) = delete;
    BusConnection& operator=(const BusConnection&) = delete;

    // Runs `use` with the bus under the lock, then wakes the dispatch thread so that messages that
    // arrived meanwhile (queued by a blocking call inside `use`) are handled.
    void withBus(const std::function<void(sd_bus*)>& use);

    // Runs `install` under the lock to add a match or an object; it stores the new slot in its
    // second argument and returns sd-bus's result. The slot is kept until the connection closes.
    // Throws std::system_error for a negative result.
    void addSlot(const std::function<int(sd_bus*, sd_bus_slot**)>& install);

    // Starts the dispatch thread; call once, after the matches and objects are installed.
    void startDispatching();

  private:
    struct BusUnref {
        void operator()(sd_bus* bus) const;
    };

    struct SlotUnref {
        void operator()(sd_bus_slot* slot) const;
    };

    void dispatchLoop();
    void wakeDispatch();

    std::mutex mutex_;
    std::unique_ptr<sd_bus, BusUnref> bus_;
    std::vector<std::unique_ptr<sd_bus_slot, SlotUnref>> slots_; // released before bus_
    int wakeFd_ = -1;                                            // eventfd: new work or stop
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace velnote::platform
