#include "ui/models/core/ModelManager.h"

#include "platform/concurrency/ManualClock.h"
#include "platform/logging/Logger.h"
#include "support/TempDir.h"
#include "support/WithoutHome.h"

#include <atomic>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <system_error>
#include <thread>

namespace velnote {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

void writeBytes(const fs::path& file, std::size_t count) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << std::string(count, 'x');
}

// Sets the modification date of `path` itself to `minutes` after a fixed moment.
void dateAt(const fs::path& path, int minutes) {
    fs::last_write_time(path, fs::file_time_type(std::chrono::hours(24 * 365 * 30)) +
                                  std::chrono::minutes(minutes));
}

std::vector<std::string> namesOf(const std::vector<ModelInfo>& models) {
    std::vector<std::string> names;
    for (const ModelInfo& model : models)
        names.push_back(model.name);
    return names;
}

const ModelInfo* named(const std::vector<ModelInfo>& models, std::string_view name) {
    for (const ModelInfo& model : models) {
        if (model.name == name)
            return &model;
    }
    return nullptr;
}

class ModelManagerTest : public ::testing::Test {
  protected:
    ModelFolders folders() const {
        return {.summarizationModelsDir = summaries(),
                .whisperModelRoots = {.hub = hub(), .repositories = repositories()}};
    }
    fs::path summaries() const { return dir_ / "data/Models"; }
    fs::path hub() const { return dir_ / "home/.cache/huggingface/hub"; }
    fs::path repositories() const { return dir_ / "home/Documents/huggingface/models"; }

    std::vector<ModelInfo> list(ModelListRefresh refresh = ModelListRefresh::force) {
        return store_.listAllModels(refresh).get();
    }

    testing::TempDir dir_;
    platform::ManualClock clock_;
    platform::LogCapture log_;
    DefaultModelManager store_{folders(), &clock_};
};

TEST_F(ModelManagerTest, NoModelFoldersListNothingAndLogNothing) {
    EXPECT_THAT(list(), IsEmpty());
    fs::create_directories(summaries());
    fs::create_directories(hub());
    EXPECT_THAT(list(), IsEmpty());
    EXPECT_TRUE(log_.records().empty());
}

TEST_F(ModelManagerTest, HubFoldersOfSpeechRepositoriesAreListedWithTheirRepositoryName) {
    for (const char* folder :
         {"models--openai--whisper-base", "models--someorg--other-model", "datasets--someorg--whisper-data",
          "Models--Org--Whisper-Tiny", "models--org--whisper--tiny", "models--quorvaneinc--vocalith-coreml",
          ".models--hidden--whisper"}) {
        writeBytes(hub() / folder / "blobs/abc", 10);
    }
    writeBytes(hub() / "models--plain--whisper-file", 10); // a file at this level is no model

    const auto models = list();
    EXPECT_THAT(namesOf(models),
                ::testing::UnorderedElementsAre("openai/whisper-base", "Models--Org--Whisper-Tiny",
                                                "org/whisper/tiny", "quorvaneinc/vocalith-coreml"));
    for (const ModelInfo& model : models) {
        EXPECT_EQ(model.type, ModelType::whisper);
        EXPECT_EQ(model.id, model.path.string());
        EXPECT_EQ(model.path.parent_path(), hub());
    }
}

TEST_F(ModelManagerTest, RepositoryFoldersAreListedByOwnerAndName) {
    writeBytes(repositories() / "someorg/whisper-small/model.bin", 5);
    writeBytes(repositories() / "someorg/other/model.bin", 5);
    writeBytes(repositories() / "whisper-base/inner-whisper/model.bin", 7); // the owner folder is the model
    writeBytes(repositories() / "quorvaneinc/vocalith-coreml/base/weights.gguf", 3);
    writeBytes(repositories() / "someorg/.whisper-hidden/model.bin", 5);

    const auto models = list();
    EXPECT_THAT(namesOf(models), ::testing::UnorderedElementsAre("someorg/whisper-small", "whisper-base",
                                                                 "quorvaneinc/vocalith-coreml"));
    ASSERT_NE(named(models, "whisper-base"), nullptr);
    EXPECT_EQ(named(models, "whisper-base")->path, repositories() / "whisper-base");
    EXPECT_EQ(named(models, "whisper-base")->size, 7);
}

TEST_F(ModelManagerTest, SizesCountRegularFilesOnceAndLeaveOutHiddenItemsAndLinks) {
    writeBytes(summaries() / "single.gguf", 1234);
    writeBytes(summaries() / "folder-model/a.bin", 100);
    writeBytes(summaries() / "folder-model/sub/b.bin", 20);
    writeBytes(summaries() / "folder-model/.cache/c.bin", 1000);
    writeBytes(summaries() / "folder-model/.hidden", 1000);
    writeBytes(hub() / "models--openai--whisper-tiny/blobs/abc", 300);
    fs::create_directories(hub() / "models--openai--whisper-tiny/snapshots/main");
    fs::create_symlink("../../blobs/abc", hub() / "models--openai--whisper-tiny/snapshots/main/model.bin");
    fs::create_directories(repositories() / "links/whisper-linked");
    fs::create_symlink(summaries() / "single.gguf", repositories() / "links/whisper-linked/model.bin");
    fs::create_directory_symlink(summaries() / "folder-model", repositories() / "links/whisper-linked/dir");
    writeBytes(summaries() / ".partial.gguf", 5000);

    const auto models = list();
    ASSERT_EQ(models.size(), 4U);
    EXPECT_EQ(named(models, "single.gguf")->size, 1234);
    EXPECT_EQ(named(models, "folder-model")->size, 120);
    EXPECT_EQ(named(models, "openai/whisper-tiny")->size, 300) << "the blob counts once, its link not at all";
    EXPECT_EQ(named(models, "links/whisper-linked")->size, 0) << "a folder of links only weighs nothing";
    EXPECT_EQ(named(models, "single.gguf")->type, ModelType::summarization);
}

TEST_F(ModelManagerTest, NewestFirstAndASummaryModelBeforeASpeechModelOfTheSameDate) {
    writeBytes(summaries() / "old.gguf", 1);
    writeBytes(summaries() / "same.gguf", 1);
    writeBytes(hub() / "models--a--whisper-same/x", 1);
    writeBytes(repositories() / "b/whisper-new/x", 1);
    dateAt(summaries() / "old.gguf", 0);
    dateAt(summaries() / "same.gguf", 10);
    dateAt(hub() / "models--a--whisper-same", 10);
    dateAt(repositories() / "b/whisper-new", 20);

    EXPECT_THAT(namesOf(list()), ElementsAre("b/whisper-new", "same.gguf", "a/whisper-same", "old.gguf"));
    EXPECT_EQ(list().front().modifiedDate,
              std::chrono::file_clock::to_sys(fs::last_write_time(repositories() / "b/whisper-new")));
}

TEST_F(ModelManagerTest, AnUnforcedListingWithinAMinuteComesFromTheCache) {
    writeBytes(summaries() / "first.gguf", 1);
    EXPECT_THAT(namesOf(list(ModelListRefresh::ifStale)), ElementsAre("first.gguf"));
    writeBytes(summaries() / "second.gguf", 1);

    clock_.advance(59s);
    EXPECT_THAT(namesOf(list(ModelListRefresh::ifStale)), ElementsAre("first.gguf"));
    EXPECT_EQ(list(ModelListRefresh::force).size(), 2U) << "a forced listing reads the disk";
    fs::remove(summaries() / "second.gguf");
    clock_.advance(59s);
    EXPECT_EQ(list(ModelListRefresh::ifStale).size(), 2U) << "the forced listing refreshed the cache";
    clock_.advance(2s);
    EXPECT_EQ(list(ModelListRefresh::ifStale).size(), 1U);
}

TEST_F(ModelManagerTest, AFailingDeletionStopsThereAndKeepsTheCache) {
    for (const char* name : {"a.gguf", "b.gguf", "c.gguf"})
        writeBytes(summaries() / name, 1);
    const auto models = list(ModelListRefresh::ifStale);
    ASSERT_EQ(models.size(), 3U);
    fs::remove(models[1].path); // removed behind the store's back

    try {
        store_.deleteModels(models).get();
        FAIL() << "the missing second model fails the deletion";
    } catch (const std::system_error& e) {
        EXPECT_EQ(e.code(), std::errc::no_such_file_or_directory);
        EXPECT_THAT(e.what(), ::testing::HasSubstr(models[1].name));
    }
    EXPECT_FALSE(fs::exists(models[0].path));
    EXPECT_TRUE(fs::exists(models[2].path)) << "models after the failure are not attempted";
    EXPECT_EQ(list(ModelListRefresh::ifStale).size(), 3U) << "the cache still holds the old list";

    store_.deleteModels({models[2]}).get();
    EXPECT_THAT(list(ModelListRefresh::ifStale), IsEmpty()) << "a deletion that succeeds empties the cache";
    store_.deleteModels({}).get();
}

TEST_F(ModelManagerTest, ASpeechModelIsRemovedWithEveryVariantOfItsRepository) {
    writeBytes(repositories() / "quorvaneinc/vocalith-coreml/base/w.gguf", 1);
    writeBytes(repositories() / "quorvaneinc/vocalith-coreml/medium/w.gguf", 1);
    store_.deleteModels(list()).get();
    EXPECT_FALSE(fs::exists(repositories() / "quorvaneinc/vocalith-coreml"));
    EXPECT_TRUE(fs::exists(repositories() / "quorvaneinc")) << "the owner folder stays";
}

TEST_F(ModelManagerTest, PathsOutsideTheModelFoldersAreNeverRemoved) {
    writeBytes(dir_ / "precious/notes.txt", 1);
    writeBytes(summaries() / "kept.gguf", 1);
    for (const fs::path& path : {dir_ / "precious", summaries(), summaries() / "../../precious", hub() / "..",
                                 fs::path("relative/models--x--whisper")}) {
        const ModelInfo outsider{.id = path.string(), .name = "x", .path = path};
        try {
            store_.deleteModels({outsider}).get();
            ADD_FAILURE() << path << " was accepted";
        } catch (const std::system_error& e) {
            EXPECT_EQ(e.code(), std::errc::operation_not_permitted) << path;
        }
    }
    EXPECT_TRUE(fs::exists(dir_ / "precious/notes.txt"));
    EXPECT_TRUE(fs::exists(summaries() / "kept.gguf"));
}

TEST_F(ModelManagerTest, AnUnreadableRootIsLoggedAndTheOthersStillListed) {
    writeBytes(hub(), 1); // a file where the hub folder should be
    writeBytes(repositories() / "o/whisper-x/m", 1);
    writeBytes(summaries(), 1); // and where the summary folder should be

    EXPECT_THAT(namesOf(list()), ElementsAre("o/whisper-x"));
    EXPECT_TRUE(log_.contains("ModelManager: failed to enumerate Whisper models in " + hub().string()));
    EXPECT_TRUE(log_.contains("ModelManager: failed to enumerate models in " + summaries().string()));
}

// Another program (a download, a clean-up) adds and removes models while the list is read: a model
// gone between the folder's listing and its reading is left out, and the listing goes on.
TEST_F(ModelManagerTest, AModelRemovedDuringTheListingHidesNoOther) {
    constexpr int kKept = 40;
    for (int i = 0; i < kKept; ++i)
        writeBytes(summaries() / ("kept-" + std::to_string(i)) / "m.gguf", 1);
    std::atomic<bool> done{false};
    std::thread churn([&] {
        for (int round = 0; !done; ++round) {
            for (int i = 0; i < 40; ++i)
                writeBytes(summaries() / ("passing-" + std::to_string(i)) / "sub" / "m.gguf", 1);
            for (int i = 0; i < 40; ++i)
                fs::remove_all(summaries() / ("passing-" + std::to_string(i)));
        }
    });
    for (int attempt = 0; attempt < 200; ++attempt) {
        int kept = 0;
        for (const ModelInfo& model : list())
            kept += model.name.starts_with("kept-") ? 1 : 0;
        ASSERT_EQ(kept, kKept) << "listing " << attempt;
    }
    done = true;
    churn.join();
}

TEST(ModelFoldersTest, StandardFoldersFollowTheDataFolderAndTheHome) {
    testing::ScopedEnv data("XDG_DATA_HOME", "/data");
    testing::ScopedEnv home("HOME", "/home/u");
    const ModelFolders folders = ModelFolders::standard();
    EXPECT_EQ(folders.summarizationModelsDir, fs::path("/data/Velnote/Models"));
    EXPECT_EQ(folders.whisperModelRoots.hub, fs::path("/home/u/.cache/huggingface/hub"));
    EXPECT_EQ(folders.whisperModelRoots.repositories, fs::path("/home/u/Documents/huggingface/models"));

    // Without a home the shared temporary folder is not listed in its place.
    const auto withoutHome = testing::checkWithoutHome([] {
        const ModelFolders none = ModelFolders::standard();
        return !none.summarizationModelsDir && !none.whisperModelRoots.hub &&
               !none.whisperModelRoots.repositories;
    });
    if (withoutHome) {
        EXPECT_TRUE(*withoutHome);
    }
}

} // namespace
} // namespace velnote
