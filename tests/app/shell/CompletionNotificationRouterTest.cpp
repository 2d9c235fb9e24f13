#include "app/shell/CompletionNotificationRouter.h"

#include "app/state/support/AppStateFixture.h"
#include "platform/fs/Files.h"
#include "session/l10n/L10n.h"
#include "support/ShellFakes.h"

#include <gtest/gtest.h>

namespace velnote {
namespace {
namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

class FakeCenter final : public platform::NotificationCenter {
  public:
    void setCategories(std::vector<platform::NotificationCategory> c) override { categories = std::move(c); }
    void setResponseHandler(ResponseHandler h) override { handler = std::move(h); }
    void add(const platform::NotificationRequest&) override {}
    std::vector<platform::NotificationCategory> categories;
    ResponseHandler handler;
};

class CompletionNotificationRouterTest : public testing::AppStateFixture {
  protected:
    void SetUp() override {
        platform::createDirectories(session_);
        router_.setup(center_);
    }

    void respond(const std::string& action, platform::NotificationUserInfo userInfo) {
        center_.handler({"velnote.completion.x", action, std::move(userInfo)});
        main_.runPending();
    }
    platform::NotificationUserInfo info(std::optional<platform::NotificationUserInfoValue> hasError) const {
        platform::NotificationUserInfo userInfo{{"sessionDir", session_.string()}};
        if (hasError) {
            userInfo.emplace("hasError", *hasError);
        }
        return userInfo;
    }

    testing::Calls calls_;
    std::shared_ptr<testing::FakeSummaryPreview> preview_ =
        std::make_shared<testing::FakeSummaryPreview>(calls_);
    ShellWindows windows_ = testing::fakeWindows(calls_, preview_);
    fs::path session_ = dir_ / "2025-03-04T09-00-00Z";
    FakeCenter center_;
    CompletionNotificationRouter router_{{
        .appState = &state(),
        .mainDispatcher = &main_,
        .clock = &clock_,
        .windows = &windows_,
        .revealItems =
            [this](const std::vector<fs::path>& items) {
                std::string line = "reveal";
                for (const fs::path& item : items) {
                    line += " " + item.filename().string();
                }
                calls_.add(line);
                return true;
            },
        .openFolder =
            [this](const fs::path& folder) {
                calls_.add("open " + folder.filename().string());
                return true;
            },
    }};
};

TEST_F(CompletionNotificationRouterTest, SetupRegistersTheCategoryWithItsShowInFinderAction) {
    ASSERT_EQ(center_.categories.size(), 1u);
    EXPECT_EQ(center_.categories[0].identifier, "VelnoteCompletionNotification");
    ASSERT_EQ(center_.categories[0].actions.size(), 1u);
    EXPECT_EQ(center_.categories[0].actions[0].identifier, "VelnoteShowInFinderAction");
    EXPECT_EQ(center_.categories[0].actions[0].title,
              L10n::localized("L10n.Notifications.showInFinderActionTitle", "Show in Finder"));
}

TEST_F(CompletionNotificationRouterTest, ShowInFinderRevealsTheResultFilesThatExistWhateverTheOutcome) {
    respond("VelnoteShowInFinderAction", info(true)); // a failure: still the files, not the monitor
    platform::writeFileAtomically(session_ / "summary.md", "# s");
    respond("VelnoteShowInFinderAction", info(true));
    platform::writeFileAtomically(session_ / "transcript.txt", "t");
    respond("VelnoteShowInFinderAction", info(false));
    EXPECT_EQ(calls_.take(),
              (Lines{"open 2025-03-04T09-00-00Z", "reveal summary.md", "reveal transcript.txt summary.md"}));
}

TEST_F(CompletionNotificationRouterTest, AClickOnAFailureOpensTheMonitorWithTheSessionExpanded) {
    respond("default", info(true));
    EXPECT_EQ(calls_.take(), (Lines{"show session monitor"}));
    EXPECT_EQ(state().expandedSessionID(), session_);
}

TEST_F(CompletionNotificationRouterTest, AClickOnASuccessOpensThePreviewOfTheCurrentSummary) {
    SessionStatusSnapshot listed;
    listed.id = session_;
    listed.dirName = session_.filename().string();
    state().setSessionSnapshots({listed});

    // "hasError" counts only as a boolean true.
    for (const auto& hasError : {std::optional<platform::NotificationUserInfoValue>{},
                                 std::optional<platform::NotificationUserInfoValue>{false},
                                 std::optional<platform::NotificationUserInfoValue>{std::string("true")}}) {
        respond("default", info(hasError));
        EXPECT_EQ(calls_.take(), (Lines{"show preview 2025-03-04T09-00-00Z"}));
    }
    ASSERT_EQ(preview_->shown.size(), 3u);
    EXPECT_EQ(preview_->shown[0].url, session_ / "summary.md");
    EXPECT_TRUE(preview_->shown[0].isLatest);
    EXPECT_FALSE(preview_->shown[0].runConfig);
    EXPECT_EQ(preview_->shown[0].createdAt,
              std::chrono::time_point_cast<std::chrono::microseconds>(clock_.wallNow()));
    EXPECT_FALSE(state().expandedSessionID());
}

TEST_F(CompletionNotificationRouterTest,
       ASuccessForAnUnlistedSessionOpensItsFolderAndBadResponsesAreIgnored) {
    respond("default", info(false));
    EXPECT_EQ(calls_.take(), (Lines{"open 2025-03-04T09-00-00Z"}));

    respond("default", {});
    respond("default", {{"sessionDir", true}});
    respond("VelnoteShowInFinderAction", {{"hasError", true}});
    EXPECT_TRUE(calls_.take().empty());
}

} // namespace
} // namespace velnote
