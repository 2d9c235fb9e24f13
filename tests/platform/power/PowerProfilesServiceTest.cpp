#include "platform/power/PowerProfiles.h"

#include <atomic>
#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <systemd/sd-bus.h>
#include <thread>

namespace velnote::platform {
namespace {

struct BusUnref {
    void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
struct SlotUnref {
    void operator()(sd_bus_slot* slot) const { sd_bus_slot_unref(slot); }
};

// A stand-in for power-profiles-daemon on the private test bus: owns `name` and serves the
// ActiveProfile property at `path` until destroyed.
class FakeProfilesDaemon {
  public:
    FakeProfilesDaemon(const char* address, std::string name, std::string path, std::string profile)
        : name_(std::move(name)), path_(std::move(path)), profile_(std::move(profile)) {
        sd_bus* raw = nullptr;
        EXPECT_GE(sd_bus_new(&raw), 0);
        bus_.reset(raw);
        EXPECT_GE(sd_bus_set_address(raw, address), 0);
        EXPECT_GE(sd_bus_set_bus_client(raw, 1), 0);
        EXPECT_GE(sd_bus_start(raw), 0);
        vtable_[0] = SD_BUS_VTABLE_START(0);
        vtable_[1] = SD_BUS_PROPERTY("ActiveProfile", "s", &FakeProfilesDaemon::getProfile, 0, 0);
        vtable_[2] = SD_BUS_VTABLE_END;
        sd_bus_slot* slot = nullptr;
        EXPECT_GE(sd_bus_add_object_vtable(raw, &slot, path_.c_str(), name_.c_str(), vtable_, this), 0);
        slot_.reset(slot);
        EXPECT_GE(sd_bus_request_name(raw, name_.c_str(), 0), 0);
        thread_ = std::thread([this] {
            while (!stop_) {
                if (sd_bus_process(bus_.get(), nullptr) > 0)
                    continue;
                sd_bus_wait(bus_.get(), 50'000);
            }
        });
    }
    ~FakeProfilesDaemon() {
        stop_ = true;
        thread_.join();
        sd_bus_release_name(bus_.get(), name_.c_str());
    }

  private:
    static int getProfile(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void* self,
                          sd_bus_error*) {
        return sd_bus_message_append(reply, "s", static_cast<FakeProfilesDaemon*>(self)->profile_.c_str());
    }

    std::string name_;
    std::string path_;
    std::string profile_;
    sd_bus_vtable vtable_[3]{};
    std::unique_ptr<sd_bus, BusUnref> bus_;
    std::unique_ptr<sd_bus_slot, SlotUnref> slot_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// One test: the daemon names are process-wide on the shared private bus.
TEST(PowerProfilesServiceTest, ReadsTheCurrentDaemonFirstThenTheLegacyOne) {
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    ASSERT_NE(address, nullptr) << "run under scripts/test-services";
    const PowerProfiles profiles(address);

    EXPECT_EQ(profiles.activeProfile(), std::nullopt) << "no daemon on the bus";
    {
        FakeProfilesDaemon legacy(address, "net.hadess.PowerProfiles", "/net/hadess/PowerProfiles",
                                  "power-saver");
        EXPECT_EQ(profiles.activeProfile(), "power-saver");
        FakeProfilesDaemon current(address, "org.freedesktop.UPower.PowerProfiles",
                                   "/org/freedesktop/UPower/PowerProfiles", "balanced");
        EXPECT_EQ(profiles.activeProfile(), "balanced");
    }
    EXPECT_EQ(profiles.activeProfile(), std::nullopt) << "both daemons gone";
}

} // namespace
} // namespace velnote::platform
