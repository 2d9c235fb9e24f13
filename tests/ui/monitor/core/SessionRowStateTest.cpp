#include "ui/monitor/core/SessionRowModel.h"

#include <gtest/gtest.h>

namespace velnote {
namespace {

using Buttons = SessionRowModel::Buttons;

SessionStatusSnapshot snapshotOf(bool running, bool pending, bool closed, bool mediaDeleted = false) {
    SessionStatusSnapshot s;
    s.id = "/sessions/a";
    s.dirName = "a";
    s.isRunning = running;
    s.isPending = pending;
    s.isClosed = closed;
    s.isMediaDeleted = mediaDeleted;
    return s;
}

// Which of retry, stop, remove, close, open, delete are shown.
std::string shown(const Buttons& b) {
    std::string out;
    for (const auto& [button, letter] :
         {std::pair{b.retry, 'R'}, std::pair{b.stop, 'S'}, std::pair{b.remove, 'M'}, std::pair{b.close, 'C'},
          std::pair{b.open, 'O'}, std::pair{b.del, 'D'}})
        out += button.shown ? letter : '-';
    return out;
}

TEST(SessionRowModelTest, ButtonsFollowTheSessionState) {
    struct Case {
        const char* what;
        SessionStatusSnapshot snapshot;
        const char* expected;
    };
    const Case cases[] = {
        {"running", snapshotOf(true, false, false), "-S----"},
        {"pending, working", snapshotOf(false, true, false), "R-MC-D"},
        {"idle, working", snapshotOf(false, false, false), "R--C-D"},
        {"saved", snapshotOf(false, false, true), "----OD"},
        {"saved without media", snapshotOf(false, false, true, true), "-----D"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(shown(SessionRowModel(c.snapshot, false, {}).buttons()), c.expected) << c.what;
}

TEST(SessionRowModelTest, PendingActionDisablesEveryActionButton) {
    SessionRowModel row(snapshotOf(false, true, false), true, {});
    const Buttons b = row.buttons();
    for (const auto& button : {b.retry, b.stop, b.remove, b.close, b.open, b.del})
        EXPECT_FALSE(button.enabled);
    row.update(snapshotOf(false, true, false), false);
    EXPECT_TRUE(row.buttons().remove.enabled);
}

TEST(SessionRowModelTest, StopRunsOnceUntilItReturns) {
    SessionRowModel row(snapshotOf(true, false, false), false, {});
    EXPECT_TRUE(row.beginStop());
    EXPECT_FALSE(row.beginStop()); // a second press while the first is awaited
    EXPECT_FALSE(row.buttons().stop.enabled);
    row.endStop();
    EXPECT_TRUE(row.buttons().stop.enabled);
    row.update(row.snapshot(), true);
    EXPECT_FALSE(row.beginStop());
}

SummaryVersion version(std::string name, bool latest = false) {
    return SummaryVersion{
        .url = "/sessions/a/" + name, .createdAt = {}, .isLatest = latest, .runConfig = std::nullopt};
}

TEST(SessionRowModelTest, ViewControlAndVersionLoads) {
    auto snapshot = snapshotOf(false, false, false);
    snapshot.summary.status = StepStatus::pending;
    SessionRowModel row(snapshot, false, {});
    EXPECT_EQ(row.viewControl(), SessionRowModel::ViewControl::none);

    row.applyVersions({version("summary.md", true), version("old.md")},
                      SessionRowModel::VersionLoad::summaryStatus);
    EXPECT_EQ(row.viewControl(), SessionRowModel::ViewControl::menu);
    // An empty reload while the summary is not done keeps the menu...
    row.applyVersions({}, SessionRowModel::VersionLoad::summaryStatus);
    EXPECT_EQ(row.summaryVersions().size(), 2u);
    // ...but a reload on expansion always applies.
    row.applyVersions({}, SessionRowModel::VersionLoad::expansion);
    EXPECT_EQ(row.viewControl(), SessionRowModel::ViewControl::none);

    snapshot.summary.status = StepStatus::done;
    row.update(snapshot, false);
    EXPECT_EQ(row.viewControl(), SessionRowModel::ViewControl::button); // done, but no file at all
    row.applyVersions({version("summary.md", true)}, SessionRowModel::VersionLoad::summaryStatus);
    EXPECT_EQ(row.viewControl(), SessionRowModel::ViewControl::button);
}

TEST(SessionRowModelTest, ExpandRequestOpensOnlyItsOwnRow) {
    SessionRowModel row(snapshotOf(false, false, false), false, {});
    EXPECT_FALSE(row.consumeExpandRequest(std::nullopt));
    EXPECT_FALSE(row.consumeExpandRequest(std::filesystem::path("/sessions/b")));
    EXPECT_FALSE(row.expanded());
    EXPECT_TRUE(row.consumeExpandRequest(std::filesystem::path("/sessions/a")));
    EXPECT_TRUE(row.expanded());
    EXPECT_TRUE(row.consumeExpandRequest(std::filesystem::path("/sessions/a"))); // stays expanded
    EXPECT_TRUE(row.expanded());
}

} // namespace
} // namespace velnote
