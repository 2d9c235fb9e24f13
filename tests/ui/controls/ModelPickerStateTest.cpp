#include "ui/controls/ModelPickerState.h"

#include "platform/logging/Logger.h"
#include "support/QueuedExecutor.h"

#include <gtest/gtest.h>
#include <stdexcept>

namespace velnote {
namespace {

using Entry = ModelPickerState::Entry;

Entry model(const std::string& title, const std::string& value) {
    return {.kind = Entry::Kind::model, .title = title, .value = value};
}
const Entry kDivider{.kind = Entry::Kind::divider};
const Entry kCustom{.kind = Entry::Kind::custom, .title = "Custom...", .value = "__custom__"};

// A picker whose fetches wait in `worker` and whose answers wait in `main`; the test runs both.
class ModelPickerStateTest : public ::testing::Test {
  protected:
    std::shared_ptr<ModelPickerState> makePicker(bool withToggle = false, bool withBinding = false) {
        ModelPickerConfig config{.label = "Model", .selectedModel = Binding<std::string>::over(selected)};
        config.fetchModels = [this](bool freeOnly) {
            fetchFlags.push_back(freeOnly);
            if (failWith) {
                throw std::runtime_error(*failWith);
            }
            return freeOnly ? freeList : fullList;
        };
        config.showFreeOnlyToggle = withToggle;
        if (withBinding) {
            config.freeOnlyBinding = Binding<bool>::over(freeOnlyOwned);
        }
        return ModelPickerState::create(std::move(config), worker, main);
    }

    void settle() {
        worker.runAll();
        main.runAll();
    }

    std::string selected;
    bool freeOnlyOwned = false;
    std::vector<std::string> fullList{"a", "b", "c:free"};
    std::vector<std::string> freeList{"c:free"};
    std::optional<std::string> failWith;
    std::vector<bool> fetchFlags;
    testing::QueuedExecutor worker;
    testing::QueuedExecutor main;
};

TEST_F(ModelPickerStateTest, BeforeAnyFetchThePopUpOffersTheChoiceItselfAndCustom) {
    struct Case {
        std::string selected;
        std::vector<Entry> rows;
    };
    const std::vector<Case> cases = {
        {.selected = "", .rows = {model("Select a model...", ""), kDivider, kCustom}},
        {.selected = "gpt-4o", .rows = {model("gpt-4o", "gpt-4o"), kDivider, kCustom}},
    };
    for (const Case& c : cases) {
        selected = c.selected;
        auto picker = makePicker();
        EXPECT_EQ(picker->entries(), c.rows) << c.selected;
        EXPECT_FALSE(picker->isLoading());
    }
    EXPECT_EQ(worker.size(), 0u); // being shown never fetches
}

TEST_F(ModelPickerStateTest, AChoiceMissingFromTheFetchedListIsListedFirstAndOnlyOnce) {
    struct Case {
        std::string selected;
        std::vector<std::string> items;
    };
    const std::vector<Case> cases = {
        {.selected = "", .items = {"a", "b", "c:free"}},
        {.selected = "b", .items = {"a", "b", "c:free"}},
        {.selected = "withdrawn", .items = {"withdrawn", "a", "b", "c:free"}},
    };
    for (const Case& c : cases) {
        selected = c.selected;
        auto picker = makePicker();
        picker->loadModels();
        settle();
        EXPECT_EQ(picker->pickerItems(), c.items) << c.selected;
        EXPECT_EQ(picker->normalizedSelectedModel(), c.selected);
    }
}

TEST_F(ModelPickerStateTest, DetailedEntriesShowTheirLabelAndAMadeUpEntryJustItsIdentifier) {
    selected = "mine";
    ModelPickerConfig config{.label = "Model", .selectedModel = Binding<std::string>::over(selected)};
    config.fetchModels = [](bool) -> std::vector<std::string> { throw std::logic_error("not to be used"); };
    config.fetchModelInfos = [](bool) {
        return std::vector<RemoteModelInfo>{
            {.id = "x/y", .uptimeLast30m = 99.6, .latencyP50ms = 850, .supportsTools = true}};
    };
    auto picker = ModelPickerState::create(std::move(config), worker, main);
    picker->loadModels();
    settle();
    EXPECT_EQ(picker->entries(),
              (std::vector<Entry>{model("mine", "mine"), model("x/y [tool] ↑100% 850ms", "x/y"), kDivider,
                                  kCustom}));
    EXPECT_TRUE(picker->models().empty());
}

TEST_F(ModelPickerStateTest, CustomModeEditsACopyAndWritesOnlyOnCommit) {
    selected = "old";
    auto picker = makePicker();
    int changes = 0;
    picker->setOnChange([&] { ++changes; });

    picker->setNormalizedSelectedModel("__custom__");
    EXPECT_TRUE(picker->isCustomMode());
    EXPECT_EQ(picker->customModelText(), "old");
    EXPECT_EQ(picker->normalizedSelectedModel(), "__custom__");
    EXPECT_EQ(selected, "old");

    picker->setCustomModelText("  typed  ");
    picker->cancelCustom();
    EXPECT_FALSE(picker->isCustomMode());
    EXPECT_EQ(selected, "old");
    EXPECT_EQ(picker->customModelText(), "  typed  ");

    picker->setNormalizedSelectedModel("__custom__");
    picker->setCustomModelText("  typed  ");
    picker->commitCustom();
    EXPECT_EQ(selected, "  typed  "); // kept as typed
    EXPECT_EQ(picker->entries().front(), model("  typed  ", "  typed  "));

    picker->setNormalizedSelectedModel("__custom__");
    picker->setCustomModelText("");
    picker->commitCustom();
    EXPECT_EQ(selected, "");
    EXPECT_GT(changes, 0);

    picker->setNormalizedSelectedModel("b");
    EXPECT_EQ(selected, "b");
    EXPECT_FALSE(picker->isCustomMode());
}

TEST_F(ModelPickerStateTest, TheFreeOnlyBoxRefetchesOnlyOnceAListIsThere) {
    auto picker = makePicker(/*withToggle=*/true, /*withBinding=*/true);
    picker->setFreeOnly(true);
    EXPECT_TRUE(freeOnlyOwned);
    EXPECT_EQ(worker.size(), 0u);

    picker->loadModels();
    settle();
    EXPECT_EQ(picker->models(), freeList);

    picker->setFreeOnly(false);
    EXPECT_TRUE(picker->isLoading());
    settle();
    EXPECT_EQ(picker->models(), fullList);

    // The owner of the binding changing it counts like a click.
    freeOnlyOwned = true;
    picker->noticeFreeOnlyChange();
    settle();
    EXPECT_EQ(fetchFlags, (std::vector<bool>{true, false, true}));
    EXPECT_EQ(picker->models(), freeList);
}

TEST_F(ModelPickerStateTest, WithoutTheBoxFetchesAskForEveryModel) {
    freeOnlyOwned = true;
    auto picker = makePicker(/*withToggle=*/false, /*withBinding=*/true);
    picker->loadModels();
    settle();
    EXPECT_EQ(fetchFlags, std::vector<bool>{false});
}

TEST_F(ModelPickerStateTest, AFailedFetchKeepsTheListAndShowsItsMessageUntilTheNextFetch) {
    platform::LogCapture log;
    auto picker = makePicker();
    picker->loadModels();
    settle();

    failWith = "Server returned error: 500";
    picker->loadModels();
    settle();
    EXPECT_EQ(picker->fetchError(), "Server returned error: 500");
    EXPECT_EQ(picker->models(), fullList);
    EXPECT_FALSE(picker->isLoading());
    EXPECT_TRUE(log.contains("model fetch failed: Server returned error: 500"));

    failWith.reset();
    picker->loadModels();
    EXPECT_EQ(picker->fetchError(), std::nullopt); // cleared as the fetch starts
    EXPECT_TRUE(picker->isLoading());

    fullList.clear();
    settle();
    EXPECT_TRUE(picker->models().empty());
    EXPECT_EQ(picker->entries().front(), model("Select a model...", ""));
}

TEST_F(ModelPickerStateTest, AnOlderAnswerArrivingLastDoesNotReplaceTheNewerOne) {
    auto picker = makePicker(/*withToggle=*/true);
    picker->loadModels();
    settle(); // a list, so the box refetches

    picker->setFreeOnly(true);  // fetch 1: free models
    picker->setFreeOnly(false); // fetch 2: every model, started while 1 runs
    ASSERT_EQ(worker.size(), 2u);
    worker.runAt(1); // fetch 2 answers first
    main.runAll();
    EXPECT_EQ(picker->models(), fullList);
    EXPECT_FALSE(picker->isLoading());

    worker.runAt(0); // then the stale fetch 1
    main.runAll();
    EXPECT_EQ(picker->models(), fullList);

    // And the other way round: the stale answer first leaves the picker loading.
    picker->setFreeOnly(true);
    picker->setFreeOnly(false);
    worker.runAt(0);
    main.runAll();
    EXPECT_TRUE(picker->isLoading());
    EXPECT_EQ(picker->models(), fullList);
    settle();
    EXPECT_FALSE(picker->isLoading());
    EXPECT_EQ(picker->models(), fullList);
}

TEST_F(ModelPickerStateTest, AnAnswerForAPickerThatIsGoneIsDropped) {
    auto picker = makePicker();
    picker->loadModels();
    picker.reset();
    settle(); // nothing left to apply it to; must not touch freed state
    EXPECT_EQ(fetchFlags.size(), 1u);
}

TEST_F(ModelPickerStateTest, WithoutAFetchActionRefreshOnlyClearsTheError) {
    ModelPickerConfig config{.label = "Model", .selectedModel = Binding<std::string>::over(selected)};
    auto picker = ModelPickerState::create(std::move(config), worker, main);
    picker->loadModels();
    EXPECT_FALSE(picker->isLoading());
    EXPECT_EQ(worker.size(), 0u);
    EXPECT_EQ(picker->fetchError(), std::nullopt);
}

} // namespace
} // namespace velnote
