#include "context/activity/window/X11FrontWindowAccess.h"
#include "platform/concurrency/SystemClock.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>

namespace velnote {
namespace {

using namespace std::chrono_literals;

// A top-level window of this test on the test display, filled with one colour, with the EWMH
// properties an application sets.
class TestWindow {
  public:
    TestWindow(const std::string& title, std::uint32_t pid, std::uint32_t colour, int width, int height) {
        connection_ = xcb_connect(nullptr, nullptr);
        xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
        id_ = xcb_generate_id(connection_);
        const std::uint32_t values[] = {colour};
        xcb_create_window(connection_, XCB_COPY_FROM_PARENT, id_, screen->root, 50, 60,
                          static_cast<std::uint16_t>(width), static_cast<std::uint16_t>(height), 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_BACK_PIXEL, values);
        xcb_intern_atom_cookie_t* cookies = xcb_ewmh_init_atoms(connection_, &ewmh_);
        xcb_ewmh_init_atoms_replies(&ewmh_, cookies, nullptr);
        xcb_ewmh_set_wm_name(&ewmh_, id_, static_cast<std::uint32_t>(title.size()), title.data());
        xcb_ewmh_set_wm_pid(&ewmh_, id_, pid);
        const char wmClass[] = "tester\0Tester";
        xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, id_, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                            sizeof wmClass, wmClass);
        xcb_map_window(connection_, id_);
        xcb_flush(connection_);
    }
    ~TestWindow() {
        xcb_destroy_window(connection_, id_);
        xcb_flush(connection_);
        xcb_ewmh_connection_wipe(&ewmh_);
        xcb_disconnect(connection_);
    }
    std::uint32_t id() const { return id_; }
    void activate() const {
        const std::string command =
            "xdotool windowactivate --sync " + std::to_string(id_) + " >/dev/null 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0);
    }

  private:
    xcb_connection_t* connection_ = nullptr;
    xcb_ewmh_connection_t ewmh_{};
    std::uint32_t id_ = 0;
};

class X11FrontWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        desktop = platform::X11Desktop::connect();
        if (!desktop) {
            GTEST_SKIP() << "no X display (run under scripts/test-services)";
        }
    }
    std::shared_ptr<platform::X11Desktop> desktop;
    const std::int32_t self = static_cast<std::int32_t>(::getpid());
};

TEST_F(X11FrontWindowTest, ReadsTheFrontApplicationItsTitleAndItsPixels) {
    TestWindow window("会議メモ / draft", static_cast<std::uint32_t>(self), 0x3366cc, 160, 90);
    X11Workspace workspace(desktop);
    // Tests running at the same time on the display may take the focus: activate until ours has it.
    std::optional<RunningApplication> front;
    for (int attempt = 0; attempt < 5 && (!front || front->pid != self); ++attempt) {
        window.activate();
        front = workspace.frontmostApplication();
    }
    ASSERT_TRUE(front.has_value());
    EXPECT_EQ(front->pid, self);
    EXPECT_EQ(front->name, "Tester");
    EXPECT_TRUE(front->bundleIdentifier.has_value());

    X11FrontWindowAccess access(desktop, platform::TimerScheduler::shared());
    EXPECT_EQ(access.getFrontWindowTitle(self), "会議メモ / draft");
    const auto frame = access.getFrontWindowRect(self);
    ASSERT_TRUE(frame.has_value());
    EXPECT_EQ(frame->width, 160);
    EXPECT_EQ(frame->height, 90);

    const CaptureAttempt attempt = access.captureFrontWindowImageWithReason(self);
    ASSERT_TRUE(attempt.image.has_value()) << attempt.reason.value_or("");
    EXPECT_FALSE(attempt.reason.has_value());
    EXPECT_EQ(attempt.image->width, 160);
    EXPECT_EQ(attempt.image->height, 90);
    const std::uint8_t* centre = attempt.image->pixel(80, 45);
    EXPECT_EQ(centre[0], 0x33);
    EXPECT_EQ(centre[1], 0x66);
    EXPECT_EQ(centre[2], 0xcc);
}

TEST_F(X11FrontWindowTest, AWhiteWindowFallsBackToTheScreenUnderItsFrame) {
    TestWindow window("blank", static_cast<std::uint32_t>(self), 0xffffff, 120, 80);
    window.activate();
    X11FrontWindowAccess access(desktop, platform::TimerScheduler::shared());
    const CaptureAttempt attempt = access.captureFrontWindowImageWithReason(self);
    ASSERT_TRUE(attempt.image.has_value()) << attempt.reason.value_or("");
    EXPECT_EQ(attempt.image->width, 120);
    EXPECT_EQ(attempt.image->height, 80);
}

TEST_F(X11FrontWindowTest, AProcessWithoutWindowsHasNoTitleAndNoFrame) {
    X11FrontWindowAccess access(desktop, platform::TimerScheduler::shared());
    EXPECT_FALSE(access.getFrontWindowTitle(999999).has_value());
    EXPECT_EQ(access.captureFrontWindowImageWithReason(999999).reason, "ax_window_rect_unavailable");
}

TEST_F(X11FrontWindowTest, ReportsActivationsOfAnotherApplication) {
    TestWindow mine("mine", static_cast<std::uint32_t>(self), 0x202020, 100, 100);
    TestWindow other("other", 1, 0x404040, 100, 100); // a window that says it belongs to process 1
    mine.activate();
    X11Workspace workspace(desktop);
    std::mutex mutex;
    std::condition_variable arrived;
    std::vector<std::int64_t> pids;
    auto token = workspace.observeActivation([&](std::optional<RunningApplication> app) {
        std::lock_guard lock(mutex);
        pids.push_back(app ? app->pid : -1);
        arrived.notify_all();
    });
    other.activate();
    std::unique_lock lock(mutex);
    // Other tests on the display may activate their windows meanwhile: wait for this one.
    EXPECT_TRUE(
        arrived.wait_for(lock, 5s, [&] { return std::find(pids.begin(), pids.end(), 1) != pids.end(); }));
    lock.unlock();
    token.reset(); // ends the watcher thread
}

TEST(X11FrontWindowWithoutDisplay, GivesNothingAndSaysWhy) {
    X11FrontWindowAccess access(nullptr, platform::TimerScheduler::shared());
    EXPECT_FALSE(access.getFrontWindowTitle(1).has_value());
    EXPECT_EQ(access.captureFrontWindowImageWithReason(1).reason, "sc_shareable_content_failed");
    EXPECT_FALSE(X11Workspace(nullptr).frontmostApplication().has_value());
}

} // namespace
} // namespace velnote
