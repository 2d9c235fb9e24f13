#include "engine/foundation/ModelDownloader.h"

#include "support/FakeHub.h"
#include "support/LogLines.h"
#include "support/TempDir.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace basalith {
namespace {

namespace fs = std::filesystem;
using testing::FakeHub;
using testing::LogLines;

constexpr const char* kRepo = "quorvaneinc/diarith-coreml";
const std::vector<std::string> kPatterns{"seg/v3/W8A16/*", "emb/*/F16/*"};

std::string bytes(std::size_t n, char seed) {
    std::string text(n, ' ');
    for (std::size_t i = 0; i < n; ++i)
        text[i] = static_cast<char>(seed + i % 23);
    return text;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream out;
    out << in.rdbuf();
    return out.str();
}

std::vector<std::string> incompleteFiles(const fs::path& root) {
    std::vector<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.path().extension() == ".incomplete")
            found.push_back(entry.path().string());
    }
    return found;
}

class ModelDownloaderTest : public ::testing::Test {
  protected:
    ModelDownloaderTest() {
        hub.addFile(kRepo, "emb/v1/F16/Emb.gguf", bytes(1000, 'a'));
        hub.addFile(kRepo, "emb/v1/F16/extra.bin", bytes(1000, 'b'));
        hub.addFile(kRepo, "other/x.gguf", "not wanted");
        hub.addFile(kRepo, "seg/v3/W8A16/Seg.gguf", bytes(3000, 'c'));
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
    EXPECT_EQ(readFile(folder / "seg/v3/W8A16/Seg.gguf"), bytes(3000, 'c'));
    EXPECT_EQ(readFile(folder / "seg/v3/W8A16/meta/config.json"), "{}");
    EXPECT_EQ(readFile(folder / "emb/v1/F16/extra.bin"), bytes(1000, 'b'));
    EXPECT_FALSE(fs::exists(folder / "other"));
    EXPECT_TRUE(incompleteFiles(folder).empty());
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
    EXPECT_EQ(readFile(repoFolder() / "emb/v1/F16/Emb.gguf"), bytes(1000, 'a'));
    EXPECT_EQ(readFile(repoFolder() / "emb/v1/F16/extra.bin.incomplete"), bytes(1000, 'b').substr(0, 100));
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
    EXPECT_EQ(readFile(repoFolder() / "emb/v1/F16/extra.bin"), bytes(1000, 'b'));
    EXPECT_TRUE(incompleteFiles(repoFolder()).empty());
    EXPECT_EQ(downloader().resolveRepo(kPatterns, std::nullopt, false), repoFolder());
}

TEST_F(ModelDownloaderTest, PartialFileThatNoLongerFitsIsFetchedAgainFromTheStart) {
    hub.dropAfter("emb/v1/F16/Emb.gguf", 600);
    EXPECT_THROW(downloader().resolveRepo({"emb/v1/F16/*"}, std::nullopt, true), HubError);
    hub.addFile(kRepo, "emb/v1/F16/Emb.gguf", "replaced, shorter"); // the range 600- is now unsatisfiable
    downloader().resolveRepo({"emb/v1/F16/*"}, std::nullopt, true);
    EXPECT_EQ(readFile(repoFolder() / "emb/v1/F16/Emb.gguf"), "replaced, shorter");
}

TEST_F(ModelDownloaderTest, FileNamesThatWouldLeaveTheRepositoryAreRefused) {
    hub.overrideListing(kRepo, {"seg/../../../escape.gguf"});
    try {
        downloader().resolveRepo({"seg/*"}, std::nullopt, true);
        FAIL() << "a hostile listing must fail";
    } catch (const HubError& e) {
        EXPECT_EQ(e.kind(), HubError::Kind::invalidResponse);
    }
    EXPECT_FALSE(fs::exists(temp.path() / "escape.gguf"));
    EXPECT_FALSE(fs::exists(temp.path() / "models/escape.gguf"));
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
