#include "engine/speech/tokenizer/TokenizerLoader.h"

#include "engine/foundation/HubError.h"
#include "engine/foundation/support/FakeHub.h"
#include "engine/foundation/support/LogLines.h"
#include "engine/speech/tokenizer/TokenizerError.h"
#include "engine/speech/tokenizer/WhisperTokenizerWrapper.h"
#include "support/TempDir.h"
#include "support/TestTokenizer.h"

#include <gtest/gtest.h>

namespace vocalith {
namespace {

namespace fs = std::filesystem;
using basalith::testing::FakeHub;
using basalith::testing::LogLines;
using testing::TestVocabulary;
using testing::writeTestTokenizer;

// Nothing listens here: a test that reaches the hub by mistake fails at once.
constexpr const char* kNoHub = "http://127.0.0.1:1";

class TokenizerLoaderTest : public ::testing::Test {
  protected:
    fs::path base() const { return dir_.path() / "hub"; }
    fs::path repositoryFolder() const { return base() / "models/openai/whisper-base"; }

    std::shared_ptr<WhisperTokenizerWrapper> load(const std::vector<fs::path>& extra = {},
                                                  const std::string& endpoint = kNoHub) {
        return std::dynamic_pointer_cast<WhisperTokenizerWrapper>(
            loadTokenizer(ModelVariant::base, base(), extra, false, endpoint));
    }

    velnote::testing::TempDir dir_;
};

TEST_F(TokenizerLoaderTest, FindsTheFilesInTheTokenizerFolderAfterTheHubCache) {
    writeTestTokenizer(base());
    LogLines log;
    const auto tokenizer = load();
    ASSERT_NE(tokenizer, nullptr);
    EXPECT_EQ(tokenizer->tokenizerFolder(), base());
    EXPECT_EQ(tokenizer->specialTokens().endToken, TestVocabulary::endOfText);
    EXPECT_EQ(log.lines(),
              (std::vector<std::string>{
                  "Checking for local tokenizer at " + (repositoryFolder() / "tokenizer.json").string() +
                      " - not found",
                  "Checking for local tokenizer at " + (base() / "tokenizer.json").string() + " - found",
                  "Found local tokenizer at " + base().string(),
                  "Loading tokenizer from " + base().string(),
              }));
}

TEST_F(TokenizerLoaderTest, TheHubCacheFolderWinsOverTheModelFolder) {
    writeTestTokenizer(repositoryFolder());
    writeTestTokenizer(dir_ / "model");
    EXPECT_EQ(load({dir_ / "model"})->tokenizerFolder(), repositoryFolder());
}

TEST_F(TokenizerLoaderTest, IncompleteLocalFilesFallBackToTheHub) {
    writeTestTokenizer(dir_ / "model");
    fs::remove(dir_ / "model" / "tokenizer_config.json");
    FakeHub hub;
    hub.addFile("openai/whisper-base", "tokenizer.json", testing::testTokenizerData().dump());
    hub.addFile("openai/whisper-base", "tokenizer_config.json", testing::testTokenizerConfig().dump());
    hub.addFile("openai/whisper-base", "model.safetensors", "not wanted");
    LogLines log;
    const auto tokenizer = load({dir_ / "model"}, hub.endpoint());
    EXPECT_TRUE(log.contains("Tokenizer configuration not found in local config"));
    EXPECT_EQ(tokenizer->tokenizerFolder(), repositoryFolder());
    EXPECT_TRUE(fs::exists(repositoryFolder() / "tokenizer.json"));
    EXPECT_FALSE(fs::exists(repositoryFolder() / "model.safetensors"));
    // Found in the cache from now on, without the hub.
    EXPECT_EQ(load()->tokenizerFolder(), repositoryFolder());
}

TEST_F(TokenizerLoaderTest, RefusedLocalFilesAndNoHubEndInTheHubsError) {
    Json data = testing::testTokenizerData();
    data["model"]["vocab"]["zz"] = -5;
    writeTestTokenizer(base(), data);
    LogLines log;
    EXPECT_THROW(load(), basalith::HubError);
    bool logged = false;
    for (const auto& line : log.lines())
        logged |= line.starts_with("Error loading local tokenizer: vocab \"zz\": id -5 is out of range");
    EXPECT_TRUE(logged);
}

TEST_F(TokenizerLoaderTest, AHubRepositoryWithoutAConfigurationIsAnError) {
    FakeHub hub;
    hub.addFile("openai/whisper-base", "tokenizer.json", testing::testTokenizerData().dump());
    EXPECT_THROW(load({}, hub.endpoint()), TokenizerError);
}

} // namespace
} // namespace vocalith
