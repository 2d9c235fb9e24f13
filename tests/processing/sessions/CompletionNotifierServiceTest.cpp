#include "platform/concurrency/MainDispatcher.h"
#include "platform/notifications/FreedesktopNotificationCenter.h"
#include "platform/notifications/support/FakeNotificationServer.h"
#include "platform/notifications/support/PrivateSessionBus.h"
#include "processing/sessions/CompletionNotifier.h"
#include "session/l10n/L10n.h"
#include "support/SessionFolderFixture.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace velnote {
namespace {

namespace fs = std::filesystem;

// What the desktop's notification service receives for a completed session, and the response a
// click on "Show in Folder" brings back.
TEST(CompletionNotifierServiceTest, DesktopReceivesTheNotificationAndReportsTheAction) {
    testing::PrivateSessionBus bus;
    testing::FakeNotificationServer server;
    platform::MainDispatcher main;
    platform::FreedesktopNotificationCenter center(main);
    center.setCategories({CompletionNotifier::category()});
    std::optional<platform::NotificationResponse> response;
    center.setResponseHandler([&](const platform::NotificationResponse& r) { response = r; });
    CompletionNotifier::Dependencies deps;
    deps.center = &center;
    deps.mainDispatcher = &main;
    deps.setLastTranscriptPath = [](std::optional<fs::path>) {};
    CompletionNotifier notifier(deps);

    testing::TempDir temp;
    const auto dir = testing::writeSession(temp / "2025-01-31T09-15-00Z", 0, [](SessionMetadata& m) {
        m.steps.transcription = StepState::fresh(StepStatus::done);
        m.steps.summary = StepState::fresh(StepStatus::skipped);
    });
    testing::writeText(dir / "transcript.txt", "t");
    notifier.notifyCompletion(dir);
    notifier.notifyCompletion(dir);

    const auto calls = server.calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].summary, "Hushtape: Completed");
    EXPECT_EQ(calls[0].body, "2025-01-31T09-15-00Z Transcription completed. Click to open summary.");
    EXPECT_EQ(calls[0].stringHints.at("x-velnote-identifier"), "velnote.completion.2025-01-31T09-15-00Z");
    const std::vector<std::pair<std::string, std::string>> actions{
        {"default", ""},
        {"VelnoteShowInFinderAction",
         L10n::localized("L10n.Notifications.showInFinderActionTitle", "Show in Finder")}};
    EXPECT_EQ(calls[0].actions, actions);

    server.invokeAction(calls[0].id, "VelnoteShowInFinderAction");
    ASSERT_TRUE(main.runUntil([&] { return response.has_value(); }, std::chrono::seconds(5)));
    EXPECT_EQ(response->actionIdentifier, "VelnoteShowInFinderAction");
    EXPECT_EQ(std::get<std::string>(response->userInfo.at("sessionDir")), dir.string());
    EXPECT_FALSE(std::get<bool>(response->userInfo.at("hasError")));
}

} // namespace
} // namespace velnote
