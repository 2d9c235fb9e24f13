#include "ui/models/core/ModelManagementState.h"

#include "platform/concurrency/SerialExecutor.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <mutex>

namespace velnote {
namespace {

using namespace std::chrono_literals;

// A store whose answers the test gives when it likes.
class FakeStore final : public ModelManaging {
  public:
    std::future<std::vector<ModelInfo>> listAllModels(ModelListRefresh refresh) override {
        std::lock_guard lock(mutex_);
        refreshes.push_back(refresh);
        listings.emplace_back();
        return listings.back().get_future();
    }
    std::future<void> deleteModels(std::vector<ModelInfo> models) override {
        std::lock_guard lock(mutex_);
        deletions.push_back(std::move(models));
        deletionAnswers.emplace_back();
        return deletionAnswers.back().get_future();
    }

    std::mutex mutex_;
    std::vector<ModelListRefresh> refreshes;
    std::deque<std::promise<std::vector<ModelInfo>>> listings;
    std::vector<std::vector<ModelInfo>> deletions;
    std::deque<std::promise<void>> deletionAnswers;
};

ModelInfo model(std::string name, std::int64_t size, ModelType type = ModelType::summarization) {
    return {.id = "/m/" + name, .name = name, .type = type, .path = "/m/" + name, .size = size};
}

class ModelManagementStateTest : public ::testing::Test {
  protected:
    ModelManagementStateTest() {
        viewModel_.setOnChange([this] { ++changes_; });
    }

    // Runs main-thread jobs until `done` holds.
    void settle(const std::function<bool()>& done) { ASSERT_TRUE(main_.runUntil(done, 5s)); }

    void loadShowing(std::vector<ModelInfo> models) {
        viewModel_.loadModels();
        store_->listings.back().set_value(std::move(models));
        settle([this] { return !viewModel_.isLoading(); });
    }

    platform::MainDispatcher main_;
    // Waits for the store's answers. Declared before the store, so it goes after it: the store's
    // unanswered promises break first, and the waits still queued end before the dispatcher goes.
    platform::SerialExecutor background_;
    std::shared_ptr<FakeStore> store_ = std::make_shared<FakeStore>();
    ModelManagementState viewModel_{{.store = store_, .main = &main_, .background = &background_}};
    int changes_ = 0;
};

TEST_F(ModelManagementStateTest, LoadingAlwaysReadsTheDiskAndTotalsTheSizes) {
    EXPECT_TRUE(viewModel_.isLoading()) << "loading until the first reading ends";
    EXPECT_EQ(viewModel_.totalSizeText(), "Total size: 0 MB");

    loadShowing({model("a", 1'500'000), model("b", 2'000'000'000, ModelType::whisper)});
    EXPECT_THAT(store_->refreshes, ::testing::ElementsAre(ModelListRefresh::force));
    EXPECT_EQ(viewModel_.models().size(), 2U);
    EXPECT_EQ(viewModel_.totalSize(), 2'001'500'000);
    EXPECT_EQ(viewModel_.totalSizeText(), "Total size: 2 GB");
    EXPECT_GE(changes_, 2);
}

TEST_F(ModelManagementStateTest, ClearAndDeleteActOnlyOnASelection) {
    loadShowing({model("a", 1), model("b", 1), model("c", 1)});
    EXPECT_FALSE(viewModel_.hasSelection());
    viewModel_.requestDeletion();
    EXPECT_FALSE(viewModel_.showDeleteConfirmation());

    viewModel_.setSelectedModels({"/m/a"});
    EXPECT_TRUE(viewModel_.hasSelection());
    viewModel_.clearSelection();
    EXPECT_FALSE(viewModel_.hasSelection());

    viewModel_.setSelectedModels({"/m/a", "/m/b", "/m/c"});
    viewModel_.requestDeletion();
    EXPECT_TRUE(viewModel_.showDeleteConfirmation());
    EXPECT_EQ(viewModel_.deleteConfirmationMessage(), "Delete 3 models?\nThis action cannot be undone.");
    viewModel_.dismissDeleteConfirmation();
    main_.runPending();
    EXPECT_FALSE(viewModel_.showDeleteConfirmation());
    EXPECT_EQ(viewModel_.selectedModels().size(), 3U) << "dismissing keeps the selection";
    EXPECT_TRUE(store_->deletions.empty()) << "and deletes nothing";
}

TEST_F(ModelManagementStateTest, ConfirmedDeletionRemovesTheSelectedListedModelsThenReloads) {
    loadShowing({model("a", 1), model("b", 1), model("c", 1)});
    viewModel_.setSelectedModels({"/m/c", "/m/a", "/m/gone"});
    viewModel_.requestDeletion();
    viewModel_.deleteSelectedModels();
    EXPECT_FALSE(viewModel_.showDeleteConfirmation());
    ASSERT_EQ(store_->deletions.size(), 1U);
    std::vector<std::string> ids;
    for (const ModelInfo& m : store_->deletions[0])
        ids.push_back(m.id);
    EXPECT_THAT(ids, ::testing::ElementsAre("/m/a", "/m/c")) << "in list order; unknown ids ignored";

    store_->deletionAnswers.back().set_value();
    settle([this] { return store_->listings.size() == 2; });
    EXPECT_TRUE(viewModel_.isLoading());
    EXPECT_FALSE(viewModel_.hasSelection());
    store_->listings.back().set_value({model("b", 7)});
    settle([this] { return !viewModel_.isLoading(); });
    EXPECT_EQ(viewModel_.models().size(), 1U);
    EXPECT_EQ(viewModel_.totalSize(), 7);
}

TEST_F(ModelManagementStateTest, ASelectedModelGoneFromTheDiskIsNeitherSelectedNorCounted) {
    loadShowing({model("a", 1), model("b", 1), model("c", 1)});
    viewModel_.setSelectedModels({"/m/a", "/m/b", "/m/c"});
    loadShowing({model("b", 1)}); // a and c were removed elsewhere; the window is shown again
    EXPECT_EQ(viewModel_.selectedModels(), std::set<std::string>{"/m/b"});
    viewModel_.requestDeletion();
    EXPECT_EQ(viewModel_.deleteConfirmationMessage(), "Delete 1 models?\nThis action cannot be undone.");

    loadShowing({});
    EXPECT_FALSE(viewModel_.hasSelection()) << "nothing left to delete: Clear and Delete are off";
}

TEST_F(ModelManagementStateTest, AFailedDeletionShowsItsErrorAndKeepsTheSelectionUntilTheNextReading) {
    loadShowing({model("a", 1)});
    viewModel_.setSelectedModels({"/m/a"});
    viewModel_.deleteSelectedModels();
    store_->deletionAnswers.back().set_exception(std::make_exception_ptr(std::system_error(
        std::make_error_code(std::errc::no_such_file_or_directory), "\"a\" couldn't be removed")));
    settle([this] { return viewModel_.errorMessage().has_value(); });
    EXPECT_THAT(*viewModel_.errorMessage(),
                ::testing::StartsWith("Failed to delete models: \"a\" couldn't be removed: No such file"));
    EXPECT_TRUE(viewModel_.hasSelection());
    EXPECT_EQ(store_->listings.size(), 1U) << "no reload after a failure";

    viewModel_.loadModels(); // the window shown again
    EXPECT_FALSE(viewModel_.errorMessage());
    EXPECT_TRUE(viewModel_.isLoading());
}

TEST_F(ModelManagementStateTest, AnAnswerArrivingAfterTheWindowModelIsGoneIsDropped) {
    std::promise<std::vector<ModelInfo>>* pending = nullptr;
    {
        ModelManagementState shortLived({.store = store_, .main = &main_, .background = &background_});
        shortLived.loadModels();
        pending = &store_->listings.back();
    }
    pending->set_value({model("a", 1)});
    background_.submit([] {}).get();
    main_.runUntil([] { return false; }, 50ms);
}

} // namespace
} // namespace velnote
