#include "platform/dbus/BusConnection.h"
#include "platform/fs/Files.h"
#include "platform/notifications/FileManagerReveal.h"
#include "support/PrivateSessionBus.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <mutex>
#include <systemd/sd-bus.h>
#include <thread>

namespace velnote::platform {
namespace {

using namespace std::chrono_literals;

// A file manager on the test bus that records the URIs of each ShowItems call.
class FakeFileManager {
  public:
    FakeFileManager() {
        connection_.addSlot([this](sd_bus* bus, sd_bus_slot** slot) {
            return sd_bus_add_object(bus, slot, "/org/freedesktop/FileManager1", &FakeFileManager::onCall,
                                     this);
        });
        connection_.addSlot([](sd_bus* bus, sd_bus_slot**) {
            return sd_bus_request_name(bus, "org.freedesktop.FileManager1", 0);
        });
        connection_.startDispatching();
    }
    std::vector<std::string> uris() {
        std::lock_guard lock(mutex_);
        return uris_;
    }

  private:
    static int onCall(sd_bus_message* m, void* userdata, sd_bus_error*) {
        if (!sd_bus_message_is_method_call(m, "org.freedesktop.FileManager1", "ShowItems"))
            return 0;
        auto* self = static_cast<FakeFileManager*>(userdata);
        char** strings = nullptr;
        sd_bus_message_read_strv(m, &strings);
        std::lock_guard lock(self->mutex_);
        for (char** s = strings; s && *s; ++s) {
            self->uris_.emplace_back(*s);
            free(*s);
        }
        free(strings);
        return sd_bus_reply_method_return(m, "");
    }

    std::mutex mutex_;
    std::vector<std::string> uris_;
    BusConnection connection_{BusConnection::Kind::session};
};

TEST(FileManagerRevealServiceTest, FileManagerGetsEscapedUris) {
    testing::PrivateSessionBus bus;
    FakeFileManager manager;
    ASSERT_TRUE(FileManagerReveal::revealItems({"/s/2025 a/transcript.txt", "/s/会/summary.md"}));
    EXPECT_EQ(manager.uris(), (std::vector<std::string>{"file:///s/2025%20a/transcript.txt",
                                                        "file:///s/%E4%BC%9A/summary.md"}));
}

TEST(FileManagerRevealServiceTest, WithoutFileManagerXdgOpenGetsTheFolder) {
    testing::PrivateSessionBus bus; // no file manager on it
    testing::TempDir temp;
    const auto log = temp / "opened";
    writeFileAtomically(temp / "xdg-open", "#!/bin/sh\nprintf %s \"$1\" > " + log.string() + "\n",
                        {0755, {}});
    testing::ScopedEnv path("PATH", temp.path().string() + ":/usr/bin:/bin");

    ASSERT_TRUE(FileManagerReveal::revealItems({temp / "session/transcript.txt"}));
    for (int i = 0; i < 200 && !std::filesystem::exists(log); ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(readFileIfPresent(log), (temp / "session").string());
}

} // namespace
} // namespace velnote::platform
