#include "platform/concurrency/MainDispatcher.h"
#include "platform/notifications/FreedesktopNotificationCenter.h"
#include "support/FakeNotificationServer.h"
#include "support/PrivateSessionBus.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <optional>

namespace velnote::platform {
namespace {

using namespace std::chrono_literals;

class FreedesktopNotificationCenterServiceTest : public ::testing::Test {
  protected:
    FreedesktopNotificationCenterServiceTest() {
        center.setCategories({{"Completion", {{"ShowAction", "Show in Folder"}}}});
        center.setResponseHandler([this](const NotificationResponse& r) { response = r; });
    }

    NotificationRequest request(std::string identifier = "velnote.completion.A") {
        return {std::move(identifier),
                "Title",
                "Body text",
                "Completion",
                {{"sessionDir", std::string("/s/A")}, {"hasError", true}},
                true};
    }

    testing::PrivateSessionBus bus;
    testing::FakeNotificationServer server;
    MainDispatcher main;
    FreedesktopNotificationCenter center{main, "Hushtape"};
    std::optional<NotificationResponse> response;
};

TEST_F(FreedesktopNotificationCenterServiceTest, PostsTextsActionsAndHints) {
    center.add(request());

    const auto calls = server.calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].appName, "Hushtape");
    EXPECT_EQ(calls[0].replacesId, 0u);
    EXPECT_EQ(calls[0].summary, "Title");
    EXPECT_EQ(calls[0].body, "Body text");
    const std::vector<std::pair<std::string, std::string>> actions{{"default", ""},
                                                                   {"ShowAction", "Show in Folder"}};
    EXPECT_EQ(calls[0].actions, actions);
    EXPECT_EQ(calls[0].stringHints.at("x-velnote-identifier"), "velnote.completion.A");
    EXPECT_EQ(calls[0].stringHints.at("sound-name"), "message-new-instant");
}

TEST_F(FreedesktopNotificationCenterServiceTest, UnknownCategoryOffersOnlyTheClick) {
    auto plain = request();
    plain.categoryIdentifier = "Other";
    plain.playsDefaultSound = false;
    center.add(plain);

    const auto call = server.calls().at(0);
    EXPECT_EQ(call.actions.size(), 1u);
    EXPECT_EQ(call.stringHints.count("sound-name"), 0u);
}

TEST_F(FreedesktopNotificationCenterServiceTest, ActionComesBackWithIdentifierAndUserInfo) {
    center.add(request());
    server.invokeAction(server.calls().at(0).id, "ShowAction");

    ASSERT_TRUE(main.runUntil([&] { return response.has_value(); }, 5s));
    EXPECT_EQ(response->requestIdentifier, "velnote.completion.A");
    EXPECT_EQ(response->actionIdentifier, "ShowAction");
    const NotificationUserInfo expected{{"sessionDir", std::string("/s/A")}, {"hasError", true}};
    EXPECT_EQ(response->userInfo, expected);
}

TEST_F(FreedesktopNotificationCenterServiceTest, SameIdentifierReplacesUntilClosed) {
    center.add(request());
    const auto first = server.calls().at(0).id;
    center.add(request());
    EXPECT_EQ(server.calls().at(1).replacesId, first);

    server.close(first);
    // The closing signal is handled on the center's own thread; a click on an unknown number
    // afterwards must not be reported.
    server.invokeAction(first, "default");
    EXPECT_FALSE(main.runUntil([&] { return response.has_value(); }, 300ms));
    center.add(request());
    EXPECT_EQ(server.calls().at(2).replacesId, 0u);
}

TEST_F(FreedesktopNotificationCenterServiceTest, RefusalAndMissingServiceThrow) {
    server.setRefusing(true);
    EXPECT_THROW(center.add(request()), NotificationError);

    FreedesktopNotificationCenter unreachable(main);
    testing::ScopedEnv noBus("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/velnote-bus");
    EXPECT_THROW(unreachable.add(request()), NotificationError);
}

} // namespace
} // namespace velnote::platform
