#include "ui/monitor/core/SessionListFilter.h"

#include "platform/text/CaseMapping.h"
#include "session/config/SummaryProvider.h"

#include <gtest/gtest.h>

namespace velnote {
namespace {

using Status = SessionStatusSnapshot::OverallStatus;

SessionStatusSnapshot session(std::string name, std::string model, std::string provider,
                              StepStatus summary = StepStatus::done) {
    SessionStatusSnapshot s;
    s.id = "/sessions/" + name;
    s.dirName = std::move(name);
    s.transcription.status = StepStatus::done;
    s.diarization.status = StepStatus::skipped;
    s.summary.status = summary;
    s.config.transcription.whisperModel = std::move(model);
    s.config.summary.provider = std::move(provider);
    return s;
}

std::vector<std::string> names(const std::vector<SessionStatusSnapshot>& list) {
    std::vector<std::string> out;
    for (const auto& s : list)
        out.push_back(s.dirName);
    return out;
}

TEST(SessionListFilterTest, SearchTextHoldsEveryPartLowerCased) {
    auto s = session("2025-01-31T09-15-00Z", "Medium", "openrouter", StepStatus::failed);
    s.summaryHeadline = "Budget REVIEW";
    s.config.summary.promptKey = "worklog";
    // The provider's label as the catalogue gives it.
    const std::string openRouter = platform::lowercased(label(SummaryProvider::openRouter));
    EXPECT_EQ(SessionListFilter::searchableText(s), "2025-01-31t09-15-00z budget review failed medium " +
                                                        openRouter + " work log writer done skipped failed");
    s.summaryHeadline.reset();
    s.config.summary.promptKey = "custom";
    s.config.summary.provider = "mystery";
    EXPECT_EQ(SessionListFilter::searchableText(s),
              "2025-01-31t09-15-00z  failed medium mystery custom done skipped failed");
}

TEST(SessionListFilterTest, UnknownPresetReadsAsMeetingMinutes) {
    EXPECT_EQ(SessionListFilter::summaryPromptPresetLabel(""), "Meeting Minutes Writer");
    EXPECT_EQ(SessionListFilter::summaryPromptPresetLabel("nope"), "Meeting Minutes Writer");
    EXPECT_EQ(SessionListFilter::summaryPromptPresetLabel("seminar"), "Seminar Notes Writer");
}

TEST(SessionListFilterTest, FiltersCombineAndQueryMatchesAsOneSubstring) {
    auto a = session("alpha", "medium", "ollama");
    a.summaryHeadline = "Quarterly plan review";
    auto b = session("beta", "small", "mystery", StepStatus::failed);
    auto c = session("gamma", "medium", "openai", StepStatus::pending);
    const std::vector snapshots{a, b, c};
    SessionListFilter filter;
    filter.rebuildCaches(snapshots);
    EXPECT_EQ(filter.whisperModelOptions(), (std::vector<std::string>{"medium", "small"}));

    struct Case {
        const char* what;
        SessionFilters filters;
        std::vector<std::string> expected;
    };
    auto f = SessionFilters::initial();
    const auto with = [&](auto change) {
        auto copy = f;
        change(copy);
        return copy;
    };
    const Case cases[] = {
        {"no filter", f, {"alpha", "beta", "gamma"}},
        {"status", with([](auto& x) { x.status = Status::failed; }), {"beta"}},
        {"model", with([](auto& x) { x.whisperModel = "medium"; }), {"alpha", "gamma"}},
        {"unknown provider matched exactly", with([](auto& x) { x.summaryProvider = "mystery"; }), {"beta"}},
        {"trimmed, lower-cased query", with([](auto& x) { x.freeText = "  PLAN Review \n"; }), {"alpha"}},
        {"words must stand together", with([](auto& x) { x.freeText = "quarterly review"; }), {}},
        {"step status word", with([](auto& x) { x.freeText = "DONE"; }), {"alpha", "beta", "gamma"}},
        {"raw provider value", with([](auto& x) { x.freeText = "myst"; }), {"beta"}},
        {"all filters at once",
         with([](auto& x) {
             x.status = Status::done;
             x.whisperModel = "medium";
             x.summaryProvider = "ollama";
             x.freeText = "alpha";
         }),
         {"alpha"}},
        {"nothing passes", with([](auto& x) { x.whisperModel = "large"; }), {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(names(filter.apply(snapshots, c.filters)), c.expected) << c.what;
}

TEST(SessionListFilterTest, SnapshotMissingFromTheCacheIsStillSearched) {
    SessionListFilter filter;
    filter.rebuildCaches({});
    auto f = SessionFilters::initial();
    f.freeText = "zeta";
    EXPECT_EQ(names(filter.apply({session("zeta", "m", "")}, f)), std::vector<std::string>{"zeta"});
}

TEST(SessionListFilterTest, ProviderChoicesFollowTheAvailableProviders) {
    const auto& options = SessionListFilter::summaryProviderFilterOptions();
    ASSERT_FALSE(options.empty());
    EXPECT_EQ(options.front(), (std::pair<std::string, std::string>{"local", "llama.cpp local LLM"}));
}

} // namespace
} // namespace velnote
