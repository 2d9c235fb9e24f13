#include "platform/translation/ApertiumTranslation.h"

#include "platform/fs/Files.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace velnote::platform {
namespace {

TEST(ApertiumTranslationTest, StreamEscapingAndModeNames) {
    EXPECT_EQ(apertiumEscaped("a[b]$c\\d^e/f@g<h>{i}"), "a\\[b\\]\\$c\\\\d\\^e\\/f\\@g\\<h\\>\\{i\\}");
    EXPECT_EQ(apertiumEscaped(std::string("a\0b\nc", 5)), "a b c");
    EXPECT_EQ(apertiumUnescaped("\\$5 \\[x\\] a\\\\b"), "$5 [x] a\\b");
    EXPECT_EQ(ApertiumTranslationSession::modeName("en", "es"), "eng-spa");
    EXPECT_EQ(ApertiumTranslationSession::modeName("ja", "en"), "jpn-eng");
    EXPECT_EQ(ApertiumTranslationSession::modeName("", "en"), "");
}

TEST(ApertiumTranslationTest, ReservedCharactersSurviveARealRoundTrip) {
    ApertiumTranslationSession session("eng-spa", {});
    session.prepareTranslation();
    const std::string translated = session.translate("It costs $5 [today] a/b");
    EXPECT_NE(translated.find("$5"), std::string::npos) << translated;
    EXPECT_NE(translated.find("[hoy]"), std::string::npos) << translated;
    EXPECT_EQ(session.translate(std::string("two\0lines", 9)).find('\0'), std::string::npos);
    ApertiumTranslationSession missing("jpn-eng", {});
    EXPECT_THROW(missing.prepareTranslation(), TranslationSessionError);
}

// A pair whose pipeline is what the test says: the mode tool is a script that prints it.
class ScriptedPair {
  public:
    explicit ScriptedPair(const std::string& pipeline) {
        writeFileAtomically(dir_ / "src-dst.mode", "unused\n");
        const auto tool = dir_ / "mode-tool";
        writeFileAtomically(tool, "#!/bin/sh\necho '" + pipeline + "'\n");
        ::chmod(tool.c_str(), 0700);
        setup_ = {.modesFolder = dir_.path(),
                  .modeScriptTool = tool,
                  .lineTimeout = std::chrono::milliseconds(300)};
    }
    ApertiumTranslationSession session() const { return ApertiumTranslationSession("src-dst", setup_); }

  private:
    velnote::testing::TempDir dir_;
    ApertiumSetup setup_;
};

TEST(ApertiumTranslationTest, AChildThatStallsOrDiesFailsTheLineAndTheNextLineStartsAnother) {
    ScriptedPair echo("cat");
    auto echoing = echo.session();
    echoing.prepareTranslation();
    EXPECT_EQ(echoing.translate("same $ text"), "same $ text");
    EXPECT_EQ(echoing.translate("second"), "second");

    ScriptedPair stalling("sleep 30");
    auto stalled = stalling.session();
    EXPECT_THROW(stalled.prepareTranslation(), TranslationSessionError);
    EXPECT_THROW(stalled.translate("again"), TranslationSessionError);

    ScriptedPair dying("exit 3");
    auto died = dying.session();
    try {
        died.prepareTranslation();
        FAIL() << "no error";
    } catch (const TranslationSessionError& error) {
        EXPECT_NE(std::string(error.what()).find("Apertium (src-dst)"), std::string::npos) << error.what();
    }
}

} // namespace
} // namespace velnote::platform
