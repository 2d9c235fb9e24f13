#include "engine/foundation/ModelDownloader.h"

#include "support/CacheFiles.h"
#include "support/FakeHub.h"
#include "support/LogLines.h"
#include "support/TempDir.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <stop_token>
#include <thread>

namespace basalith {
namespace {

namespace fs = std::filesystem;
using testing::bookkeepingFiles;
using testing::FakeHub;
using testing::hubFailure;
using testing::LogLines;
using testing::patterned;
using testing::readFile;
using testing::writeFile;

constexpr const char* kRepo = "quorvaneinc/diarith-coreml";
const std::vector<std::string> kPatterns{"seg/v3/W8A16/*", "emb/*/F16/*"};

class ModelDownloaderTest : public ::testing::Test {
  protected:
    ModelDownloaderTest() {
        hub.addFile(kRepo, "emb/v1/F16/Emb.gguf", patterned(1000, 'a'));
        hub.addFile(kRepo, "emb/v1/F16/extra.bin", patterned(1000, 'b'));
        hub.addFile(kRepo, "other/x.gguf", "not wanted");
        hub.addFile(kRepo, "seg/v3/W8A16/Seg.gguf", patterned(3000, 'c'));
        hub.addFile(kRepo, "seg/v3/W8A16/meta/config.json", "{}");
    }

    ModelDownloader downloader(std::optional<std::string> modelFolder = std::nullopt) const {
        return ModelDownloader(ModelDownloadConfig{temp.path().string(), kRepo, "secret",
                                                   std::move(modelFolder), false, hub.endpoint(), "main"});
    }
    fs::path repoFolder() const { return temp.path() / "models" / kRepo; }

    FakeHub hub;
    velnote::testing::TempDir temp;
};

TEST_F(ModelDownloaderTest, DownloadsMatchingFilesWithProgressThenAnswersFromTheCache) {
    LogLines log;
    std::vector<DownloadProgress> reports;
    const fs::path folder = downloader().resolveRepo(
        kPatterns, std::nullopt, true, [&](const DownloadProgress& p) { reports.push_back(p); });

    EXPECT_EQ(folder, repoFolder());
    EXPECT_EQ(readFile(folder / "seg/v3/W8A16/Seg.gguf"), patterned(3000, 'c'));
    EXPECT_EQ(readFile(folder / "seg/v3/W8A16/meta/config.json"), "{}");
    EXPECT_EQ(readFile(folder / "emb/v1/F16/extra.bin"), patterned(1000, 'b'));
    EXPECT_FALSE(fs::exists(folder / "other"));
    EXPECT_TRUE(bookkeepingFiles(folder).empty());
    EXPECT_EQ(hub.requestCount(), 5); // one listing, four files
    EXPECT_EQ(hub.lastAuthorization(), "Bearer secret");

    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.front().completedFiles, 0);
    EXPECT_EQ(reports.back().completedFiles, 4);
    EXPECT_EQ(reports.back().totalFiles, 4);
    EXPECT_DOUBLE_EQ(reports.back().fractionCompleted(), 1.0);
    EXPECT_TRUE(std::any_of(reports.begin(), reports.end(), [](const DownloadProgress& p) {
        return p.currentFile == "seg/v3/W8A16/Seg.gguf" && p.currentFileTotalBytes == 3000;
    }));
    EXPECT_TRUE(log.contains("[ModelDownloader] Downloading 2 model(s) from quorvaneinc/diarith-coreml..."));
    EXPECT_TRUE(log.contains("[ModelDownloader] Download complete: " + folder.string()));

    EXPECT_EQ(downloader().resolveRepo(kPatterns, std::nullopt, true), folder);
    EXPECT_EQ(hub.requestCount(), 5);
    EXPECT_TRUE(log.contains("[ModelDownloader] All models found in local cache at " + folder.string()));
}

TEST_F(ModelDownloaderTest, DownloadDisabledFailsWithoutAnyRequest) {
    fs::create_directories(repoFolder() / "seg/v3/W8A16");
    std::ofstream(repoFolder() / "seg/v3/W8A16/Seg.gguf") << "present";
    for (const auto& patterns : {kPatterns, std::vector<std::string>{"*/v3/W8A16/*"}}) {
        try {
            downloader().resolveRepo(patterns, std::nullopt, false);
            FAIL() << "a missing model must not resolve";
        } catch (const ModelDownloaderError& e) {
            EXPECT_STREQ(
                e.what(),
                "No local models found for repo 'quorvaneinc/diarith-coreml' and download is disabled.");
        }
    }
    EXPECT_EQ(hub.requestCount(), 0);
}

TEST_F(ModelDownloaderTest, LocalTestLooksAtEachPatternsFixedFolder) {
    LogLines log;
    EXPECT_EQ(downloader().resolveRepo({}, std::nullopt, false), repoFolder());
    EXPECT_TRUE(
        log.contains("[ModelDownloader] All models found in local cache at " + repoFolder().string()));

    fs::create_directories(repoFolder() / "seg/v3/W8A16");
    std::ofstream(repoFolder() / "seg/v3/W8A16/.hidden") << "";
    EXPECT_EQ(downloader().resolveRepo({"seg/v3/W8A16/*"}, std::nullopt, false), repoFolder());

    // Only a partial file: not a model yet.
    fs::create_directories(repoFolder() / "emb/v1/F16");
    std::ofstream(repoFolder() / "emb/v1/F16/Emb.gguf.incomplete") << "partial";
    EXPECT_THROW(downloader().resolveRepo({"emb/v1/F16/*"}, std::nullopt, false), ModelDownloaderError);
    EXPECT_EQ(hub.requestCount(), 0);
}

// A download that stops half-way must not count as a model, and the next call completes it,
// continuing the interrupted file where it stopped and leaving finished files alone.
TEST_F(ModelDownloaderTest, InterruptedDownloadIsResumedOnTheNextCall) {
    hub.dropAfter("emb/v1/F16/extra.bin", 100);
    EXPECT_THROW(downloader().resolveRepo(kPatterns, std::nullopt, true), HubError);
    EXPECT_EQ(readFile(repoFolder() / "emb/v1/F16/Emb.gguf"), patterned(1000, 'a'));
    EXPECT_EQ(readFile(repoFolder() / "emb/v1/F16/extra.bin.incomplete"),
              patterned(1000, 'b').substr(0, 100));
    EXPECT_TRUE(fs::exists(repoFolder() / "seg/v3/W8A16/Seg.gguf.incomplete"));

    EXPECT_THROW(downloader().resolveRepo({"emb/*/F16/*"}, std::nullopt, false), ModelDownloaderError);
    EXPECT_THROW(downloader().resolveRepo({"seg/v3/W8A16/*"}, std::nullopt, false), ModelDownloaderError);

    const int before = hub.requestCount();
    downloader().resolveRepo(kPatterns, std::nullopt, true);
    auto requests = hub.requests();
    requests.erase(requests.begin(), requests.begin() + before);
    EXPECT_EQ(requests, (std::vector<std::string>{
                            "/api/models/quorvaneinc/diarith-coreml/revision/main",
                            "/quorvaneinc/diarith-coreml/resolve/main/emb/v1/F16/extra.bin",
                            "/quorvaneinc/diarith-coreml/resolve/main/seg/v3/W8A16/Seg.gguf",
                            "/quorvaneinc/diarith-coreml/resolve/main/seg/v3/W8A16/meta/config.json"}));
    EXPECT_EQ(hub.lastRange("emb/v1/F16/extra.bin"), "bytes=100-");
    EXPECT_EQ(hub.lastIfRange("emb/v1/F16/extra.bin"), hub.etag(kRepo, "emb/v1/F16/extra.bin"));
    EXPECT_EQ(readFile(repoFolder() / "emb/v1/F16/extra.bin"), patterned(1000, 'b'));
    EXPECT_TRUE(bookkeepingFiles(repoFolder()).empty());
    EXPECT_EQ(downloader().resolveRepo(kPatterns, std::nullopt, false), repoFolder());
}

TEST_F(ModelDownloaderTest, PartialFileThatNoLongerFitsIsFetchedAgainFromTheStart) {
    hub.setListingSizes(false); // with sizes the client would not even ask for the range
    hub.dropAfter("emb/v1/F16/Emb.gguf", 600);
    EXPECT_THROW(downloader().resolveRepo({"emb/v1/F16/*"}, std::nullopt, true), HubError);
    hub.addFile(kRepo, "emb/v1/F16/Emb.gguf", "replaced, shorter"); // the range 600- is now unsatisfiable
    downloader().resolveRepo({"emb/v1/F16/*"}, std::nullopt, true);
    EXPECT_EQ(readFile(repoFolder() / "emb/v1/F16/Emb.gguf"), "replaced, shorter");
}

TEST_F(ModelDownloaderTest, FileNamesThatWouldLeaveTheRepositoryAreRefused) {
    const std::string hostile[] = {"seg/../../../escape.gguf",
                                   "/etc/escape.gguf",
                                   std::string("seg/escape.gguf\0.txt", 20),
                                   "seg//escape.gguf",
                                   "seg/./escape.gguf",
                                   "seg/escape.gguf.incomplete",
                                   "seg/dir.incomplete/escape.gguf",
                                   "seg/escape.gguf.incomplete.lock",
                                   ""};
    for (const auto& name : hostile) {
        hub.overrideListing(kRepo, {"seg/v3/W8A16/Seg.gguf", name});
        EXPECT_EQ(hubFailure([&] { downloader().resolveRepo({"seg/*"}, std::nullopt, true); }),
                  HubError::Kind::invalidResponse)
            << name;
    }
    EXPECT_FALSE(fs::exists(repoFolder() / "seg")) << "nothing is written from a hostile listing";
    EXPECT_FALSE(fs::exists(temp.path() / "escape.gguf"));
}

TEST_F(ModelDownloaderTest, NamesFromCallersThatWouldLeaveTheirFolderAreRefused) {
    auto withRepo = [&](std::string repo) {
        return ModelDownloader(ModelDownloadConfig{
            .downloadBase = temp.path().string(), .modelRepo = std::move(repo), .endpoint = hub.endpoint()});
    };
    const std::string repos[] = {"/etc", "../x", "o/../../x", std::string("o/r\0x", 5), "", "o//r", "o/."};
    for (const auto& repo : repos) {
        EXPECT_EQ(hubFailure([&] { withRepo(repo).resolveRepo(kPatterns, std::nullopt, true); }),
                  HubError::Kind::invalidName)
            << repo;
        EXPECT_EQ(hubFailure([&] { withRepo(repo).localRepoLocation(); }), HubError::Kind::invalidName)
            << repo;
    }

    const ModelInfo models[] = {{.name = "/etc"},
                                {.name = "../x"},
                                {.version = "../../x", .name = "seg"},
                                {.variant = std::string("a\0b", 3), .name = "seg"}};
    for (const auto& model : models) {
        EXPECT_EQ(hubFailure([&] { downloader().downloadModel(model, std::nullopt); }),
                  HubError::Kind::invalidName)
            << model.description();
        EXPECT_EQ(
            hubFailure([&] { downloader().resolveModel("Seg", model, std::nullopt, std::nullopt, true); }),
            HubError::Kind::invalidName)
            << model.description();
    }
    const ModelInfo seg{.version = "v3", .variant = "W8A16", .name = "seg"};
    EXPECT_EQ(
        hubFailure([&] { downloader().resolveModel("../../Seg", seg, temp.path(), std::nullopt, false); }),
        HubError::Kind::invalidName);
    EXPECT_EQ(hubFailure([&] { downloader().resolveRepo({"../../etc/*"}, std::nullopt, false); }),
              HubError::Kind::invalidName);
    EXPECT_EQ(hub.requestCount(), 0);
}

// Markers that no download will ever complete must not keep a model missing for good.
TEST_F(ModelDownloaderTest, LeftoverMarkersAreRemovedByTheNextDownload) {
    writeFile(repoFolder() / "emb/v1/F16/dropped-from-hub.bin.incomplete", "old");
    writeFile(repoFolder() / "gone/x.bin.incomplete", "");
    writeFile(repoFolder() / "seg/v3/W8A16/Seg.gguf", patterned(3000, 'c'));
    writeFile(repoFolder() / "seg/v3/W8A16/Seg.gguf.incomplete", ""); // beside a complete file
    writeFile(repoFolder() / "emb/v1/F16/extra.bin.incomplete.lock", "");

    downloader().resolveRepo(kPatterns, std::nullopt, true);
    EXPECT_EQ(bookkeepingFiles(repoFolder()), std::vector<std::string>{});
    EXPECT_EQ(downloader().resolveRepo(kPatterns, std::nullopt, false), repoFolder());
    EXPECT_EQ(hub.requestsFor("seg/v3/W8A16/Seg.gguf"), 0);
}

TEST_F(ModelDownloaderTest, StalledTransferEndsAtTheIdleLimitOrOnStop) {
    auto config = downloader().config();
    config.idleLimit = std::chrono::milliseconds(200);
    hub.stallNext("emb/v1/F16/Emb.gguf");
    try {
        ModelDownloader(config).resolveRepo(kPatterns, std::nullopt, true);
        ADD_FAILURE() << "a stalled transfer must fail";
    } catch (const HubError& e) {
        EXPECT_EQ(e.kind(), HubError::Kind::network);
        EXPECT_NE(std::string(e.what()).find("no data for 200 ms"), std::string::npos) << e.what();
    }

    // The default idle limit is a minute; a stop request ends the transfer long before it.
    hub.stallNext("emb/v1/F16/Emb.gguf");
    std::stop_source stop;
    std::optional<HubError::Kind> failure;
    std::thread caller([&] {
        failure = hubFailure(
            [&] { downloader().resolveRepo(kPatterns, std::nullopt, true, {}, stop.get_token()); });
    });
    hub.waitUntilStalled(2);
    stop.request_stop();
    caller.join();
    EXPECT_EQ(failure, HubError::Kind::cancelled);
    EXPECT_TRUE(fs::exists(repoFolder() / "emb/v1/F16/Emb.gguf.incomplete"));
    EXPECT_THROW(downloader().resolveRepo(kPatterns, std::nullopt, false), ModelDownloaderError);
}

TEST_F(ModelDownloaderTest, ListingMatchesGlobsAcrossFolders) {
    EXPECT_EQ(downloader().fetchFilenames({"seg/*"}, std::nullopt),
              (std::vector<std::string>{"seg/v3/W8A16/Seg.gguf", "seg/v3/W8A16/meta/config.json"}));
    EXPECT_EQ(downloader().fetchFilenames({"*.gguf", "*/meta/*"}, std::nullopt),
              (std::vector<std::string>{"emb/v1/F16/Emb.gguf", "other/x.gguf", "seg/v3/W8A16/Seg.gguf",
                                        "seg/v3/W8A16/meta/config.json"}));
}

TEST_F(ModelDownloaderTest, DownloadModelOfflineLooksOnlyAtTheCache) {
    const ModelInfo seg{"v3", "W8A16", "seg", ComputeUnits::cpuOnly};
    try {
        downloader().downloadModel(seg, std::nullopt, true);
        FAIL() << "nothing is cached yet";
    } catch (const ModelDownloaderError& e) {
        EXPECT_STREQ(e.what(), "No models found matching \"seg/v3/W8A16/*\" in quorvaneinc/diarith-coreml");
    }
    EXPECT_EQ(hub.requestCount(), 0);
    EXPECT_EQ(downloader().downloadModel(seg, std::nullopt), repoFolder());
    EXPECT_EQ(downloader().downloadModel(seg, std::nullopt, true), repoFolder());
    EXPECT_EQ(hub.requestCount(), 3);
}

TEST_F(ModelDownloaderTest, ResolveModelTriesFolderThenCacheThenHub) {
    const ModelInfo seg{"v3", "W8A16", "seg", ComputeUnits::cpuOnly};
    std::vector<ModelState> states;
    auto record = [&](ModelState s) { states.push_back(s); };

    velnote::testing::TempDir local;
    fs::create_directories(local.path() / "seg/v3/W8A16");
    std::ofstream(local.path() / "seg/v3/W8A16/Seg.gguf") << "local";
    EXPECT_EQ(
        downloader(local.path().string()).resolveModel("Seg", seg, std::nullopt, std::nullopt, false, record),
        local.path() / "seg/v3/W8A16/Seg.gguf");
    EXPECT_TRUE(states.empty());

    try {
        downloader().resolveModel("Seg", seg, local.path() / "elsewhere", std::nullopt, false, record);
        FAIL() << "download is off";
    } catch (const ModelDownloaderError& e) {
        EXPECT_STREQ(e.what(), "No model found for Seg (download disabled)");
    }
    EXPECT_EQ(hub.requestCount(), 0);

    EXPECT_EQ(downloader().resolveModelPath("Seg", seg, std::nullopt, std::nullopt, true, record),
              (repoFolder() / "seg/v3/W8A16/Seg.gguf").string());
    EXPECT_EQ(states, (std::vector<ModelState>{ModelState::downloading, ModelState::downloaded}));
    states.clear();
    EXPECT_EQ(downloader().resolveModel("Seg", seg, std::nullopt, std::nullopt, false, record),
              repoFolder() / "seg/v3/W8A16/Seg.gguf");
    EXPECT_EQ(states, std::vector<ModelState>{ModelState::downloaded});

    try {
        downloader().resolveModel("Missing", seg, std::nullopt, std::nullopt, true);
        FAIL() << "the hub has no such file";
    } catch (const ModelDownloaderError& e) {
        EXPECT_STREQ(e.what(), "No model found for Missing");
    }
}

} // namespace
} // namespace basalith
