#include "summary/local/LocalModelFiles.h"

#include "platform/fs/Files.h"
#include "summary/core/NativeSummarizationError.h"
#include "support/LoopbackServer.h"
#include "support/TempDir.h"

#include <fstream>
#include <gtest/gtest.h>

namespace velnote {
namespace {

using namespace LlamaSummarizationPipeline;
using testing::CannedReply;
using testing::LoopbackServer;
using testing::TempDir;

constexpr auto kModel = "qwen2.5-7b-instruct-mlx-4bit";
const std::string kGguf = std::string("GGUF\x03\0\0\0", 8) + "weights";

class LocalModelFilesTest : public ::testing::Test {
  protected:
    LocalModelStore store() const {
        return {.persistent = dir / "support" / "Models",
                .cache = dir / "cache" / "Models",
                .legacy = {dir / "Documents/Velnote/models", dir / ".cache/Velnote/models"},
                .hubBaseURL = server.url(),
                .http = &http};
    }

    static std::filesystem::path put(const std::filesystem::path& path, const std::string& bytes = kGguf) {
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    static std::vector<std::string> entries(const std::filesystem::path& folder) {
        std::vector<std::string> names;
        for (const auto& entry : platform::listDirectory(folder))
            names.push_back(entry.filename().string());
        return names;
    }

    NativeSummarizationError resolveError(const std::string& model) {
        try {
            resolveModelPath(model, std::nullopt, {}, store());
        } catch (const NativeSummarizationError& error) {
            return error;
        }
        ADD_FAILURE() << "resolved " << model;
        return NativeSummarizationError::emptySummary();
    }

    static platform::HttpClient::Options smallReplies() {
        platform::HttpClient::Options options;
        options.maxResponseBytes = 64 * 1024; // an error page is kept up to this
        return options;
    }

    TempDir dir;
    LoopbackServer server;
    platform::HttpClient http{smallReplies()};
};

TEST_F(LocalModelFilesTest, ACustomPathNamingAFileWins) {
    const auto custom = put(dir / "mine.gguf");
    const auto cached = put(store().cache.value() / "qwen2.5-7b-instruct.gguf");
    EXPECT_EQ(resolveModelPath("anything", " \n" + custom.string() + "\n ", {}, store()), custom);
    for (const std::string& passedOver : {std::string(), std::string(" \n"), (dir / "none.gguf").string()})
        EXPECT_EQ(resolveModelPath(kModel, passedOver, {}, store()), cached) << passedOver;
    EXPECT_EQ(server.requestCount(), 0u);
}

TEST_F(LocalModelFilesTest, ThePersistentFolderBeatsTheCacheAndTheCacheADownload) {
    const auto cached = put(store().cache.value() / "qwen2.5-7b-instruct.gguf");
    EXPECT_EQ(resolveModelPath(kModel, std::nullopt, {}, store()), cached);
    const auto kept = put(store().persistent.value() / "qwen2.5-7b-instruct.gguf");
    EXPECT_EQ(resolveModelPath(kModel, std::nullopt, {}, store()), kept);
    EXPECT_EQ(server.requestCount(), 0u);
}

TEST_F(LocalModelFilesTest, LegacyFilesAreCopiedNotMoved) {
    const auto legacy = put(dir / "Documents/Velnote/models/Qwen2.5-7B-Instruct-Q4_K_M.gguf");
    const auto copied = resolveModelPath(kModel, std::nullopt, {}, store());
    EXPECT_EQ(copied, store().persistent.value() / "Qwen2.5-7B-Instruct-Q4_K_M.gguf");
    EXPECT_EQ(platform::readFile(copied), kGguf);
    EXPECT_TRUE(std::filesystem::exists(legacy));
    EXPECT_EQ(entries(*store().persistent), std::vector<std::string>{"Qwen2.5-7B-Instruct-Q4_K_M.gguf"});

    // A file of that name already in the persistent folder is used as it is.
    put(legacy, "GGUF newer legacy copy");
    EXPECT_EQ(migrateLegacyModelIfNeeded(legacy, *store().persistent), copied);
    EXPECT_EQ(platform::readFile(copied), kGguf);
}

TEST_F(LocalModelFilesTest, AMissingModelIsDownloadedIntoThePersistentFolder) {
    server.reply(CannedReply::ok(kGguf));
    const auto downloaded = resolveModelPath(kModel, std::nullopt, {}, store());
    EXPECT_EQ(downloaded, store().persistent.value() / "Qwen2.5-7B-Instruct-Q4_K_M.gguf");
    EXPECT_EQ(platform::readFile(downloaded), kGguf);
    ASSERT_EQ(server.requestCount(), 1u);
    EXPECT_EQ(
        server.requests()[0].target,
        "/bartowski/Qwen2.5-7B-Instruct-GGUF/resolve/main/Qwen2.5-7B-Instruct-Q4_K_M.gguf?download=true");
    EXPECT_EQ(entries(*store().persistent), std::vector<std::string>{"Qwen2.5-7B-Instruct-Q4_K_M.gguf"});
}

TEST_F(LocalModelFilesTest, TheHubsRedirectIsFollowed) {
    server.setHandler([](const testing::RecordedRequest& request) {
        if (request.path == "/cdn/model.gguf")
            return CannedReply::ok(kGguf);
        CannedReply moved = CannedReply::with(302, "");
        moved.headers = {{"Location", "/cdn/model.gguf"}};
        return moved;
    });
    EXPECT_EQ(platform::readFile(resolveModelPath("qwen3-8b-instruct-mlx-4bit", std::nullopt, {}, store())),
              kGguf);
}

TEST_F(LocalModelFilesTest, AFailedDownloadLeavesNothingBehind) {
    struct Case {
        CannedReply reply;
        std::string reason;
    };
    // Pages that never end are not written on for ever.
    for (const Case& c : {Case{CannedReply::with(404, "Not Found"), "status=404"},
                          Case{CannedReply::repeating(500, "<p>error</p>"), "status=500"},
                          Case{CannedReply::ok("<!doctype html><title>Sign in</title>"), "not a GGUF file"},
                          Case{CannedReply::repeating(200, "<!doctype html>"), "not a GGUF file"},
                          Case{CannedReply::ok("GG"), "not a GGUF file"}}) {
        server.reply(c.reply);
        const NativeSummarizationError error = resolveError(kModel);
        EXPECT_EQ(error.kind(), NativeSummarizationError::Kind::modelDownloadFailed);
        EXPECT_EQ(error.reason(), c.reason);
        EXPECT_EQ(entries(*store().persistent), std::vector<std::string>{}) << c.reason;
    }
}

TEST_F(LocalModelFilesTest, UnknownModelsAndMissingFoldersAreNamed) {
    EXPECT_EQ(resolveError("custom").kind(), NativeSummarizationError::Kind::noModelSpec);
    // An unknown id still takes the qwen2.5-7b files it finds.
    const auto cached = put(store().cache.value() / "qwen2.5-7b-instruct-q4_k_m.gguf");
    EXPECT_EQ(resolveModelPath("custom", std::nullopt, {}, store()), cached);

    LocalModelStore homeless = store();
    homeless.cache.reset();
    try {
        resolveModelPath(kModel, std::nullopt, {}, homeless);
        FAIL() << "resolved without a cache folder";
    } catch (const NativeSummarizationError& error) {
        EXPECT_EQ(error.kind(), NativeSummarizationError::Kind::storageDirectoryUnavailable);
    }
    EXPECT_EQ(server.requestCount(), 0u);
}

TEST(ModelSpecTest, KnownModelsAndTheirFileNames) {
    EXPECT_EQ(modelSpec("qwen3-8b-instruct-mlx-4bit", "https://hub.test")->downloadURL,
              "https://hub.test/Qwen/Qwen3-8B-GGUF/resolve/main/Qwen3-8B-Q4_K_M.gguf?download=true");
    EXPECT_EQ(modelSpec("llama3-8b-instruct-mlx-4bit", "h")->fileName,
              "Meta-Llama-3-8B-Instruct-Q4_K_M.gguf");
    EXPECT_EQ(modelSpec("QWEN3-8B-INSTRUCT-MLX-4BIT", "h"), std::nullopt);
    EXPECT_EQ(candidateModelFileNames("qwen2.5-3b-instruct-mlx-4bit").front(),
              "qwen2.5-3b-instruct-q4_k_m.gguf");
    EXPECT_EQ(candidateModelFileNames("custom"), candidateModelFileNames("qwen2.5-7b-instruct-mlx-4bit"));
}

} // namespace
} // namespace velnote
