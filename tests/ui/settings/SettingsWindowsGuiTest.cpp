#include "app/state/support/AppStateFixture.h"
#include "session/support/FakeSecretStore.h"
#include "support/RecordingBacking.h"
#include "ui/controls/IMEDisabledSecureField.h"
#include "ui/settings/PreferencesWindowController.h"
#include "ui/settings/SessionSettingsWindowController.h"
#include "ui/shell/QtMainLoop.h"
#include "ui/shell/support/QtTestApp.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

namespace velnote {
namespace {

using S = ProviderSetting;

// The visible widgets of type T under `root` whose text contains `text`.
template <class T> std::vector<T*> visibleWith(QWidget& root, const QString& text) {
    std::vector<T*> found;
    for (T* widget : root.findChildren<T*>()) {
        if (widget->isVisibleTo(&root) && widget->text().contains(text)) {
            found.push_back(widget);
        }
    }
    return found;
}

bool showsText(QWidget& root, const QString& text) {
    return !visibleWith<QLabel>(root, text).empty() || !visibleWith<QCheckBox>(root, text).empty() ||
           !visibleWith<QPushButton>(root, text).empty();
}

// The key fields under `root` (the class has no meta-object of its own, so findChildren cannot
// tell it from any line edit).
std::size_t keyFields(QWidget& root) {
    std::size_t count = 0;
    for (QLineEdit* edit : root.findChildren<QLineEdit*>()) {
        count += dynamic_cast<IMEDisabledSecureField*>(edit) != nullptr ? 1 : 0;
    }
    return count;
}

class SettingsWindowsGuiTest : public testing::AppStateFixture {
  protected:
    void SetUp() override { testing::qtTestApp(); }

    std::unique_ptr<PreferencesWindow> preferences() {
        PreferencesEnvironment env;
        env.defaults = &store;
        env.keychain = KeychainHelper(secrets);
        env.presentError = [this](const std::string& message) { errors.push_back(message); };
        env.enumerateDisplays = [] {
            return std::vector<AvailableDisplay>{{.id = 0, .name = "Left", .displayID = 1},
                                                 {.id = 1, .name = "Left", .displayID = 2}};
        };
        PreferencesWindow::Services services;
        services.lists = {.fetchModels = [](SummaryProvider, const std::string&,
                                            const std::string&) { return std::vector<std::string>{"m1"}; },
                          .fetchOpenRouterModelInfos = [](const std::string&,
                                                          bool) { return std::vector<RemoteModelInfo>{}; }};
        return std::make_unique<PreferencesWindow>(env, services);
    }

    testing::TempDir dir;
    platform::SettingsStore store{dir.path() / "settings.json"};
    std::shared_ptr<testing::FakeSecretStore> secrets = std::make_shared<testing::FakeSecretStore>();
    std::vector<std::string> errors;
};

TEST_F(SettingsWindowsGuiTest, ThePreferencesWindowOpensAtItsSizeAndSaveClosesItOnlyWhenValid) {
    auto window = preferences();
    PreferencesWindowController controller([&] { return std::move(window); });
    controller.show();
    PreferencesWindow& shown = *controller.window();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&shown));
    EXPECT_EQ(shown.windowTitle(), "Hushtape Settings");
    EXPECT_EQ(shown.size(), QSize(540, 560));
    EXPECT_EQ(shown.minimumSize(), QSize(520, 500));
    EXPECT_TRUE(testing::drawsSomething(shown));

    shown.state().providerSettings().setText(S::openAIBaseURL, "api.openai.com");
    QTest::mouseClick(shown.saveButton(), Qt::LeftButton);
    EXPECT_TRUE(shown.isVisible());
    ASSERT_EQ(errors.size(), 1u);

    shown.state().providerSettings().setText(S::openAIBaseURL, " https://api.openai.com ");
    QTest::mouseClick(shown.saveButton(), Qt::LeftButton);
    EXPECT_FALSE(shown.isVisible());
    EXPECT_EQ(store.string("openAIBaseURL"), "https://api.openai.com");

    controller.show(); // a new showing reloads the drafts
    shown.state().viewModel().additionalPATH.set("/opt/bin");
    QTest::keyClick(&shown, Qt::Key_Escape);
    EXPECT_FALSE(shown.isVisible());
    EXPECT_EQ(shown.state().viewModel().additionalPATH.get(), "");
    EXPECT_FALSE(store.object("additionalPATH") == platform::SettingsValue("/opt/bin"));

    controller.show(); // Ctrl+W closes as Cancel does
    shown.state().viewModel().additionalPATH.set("/opt/bin");
    QApplication::setActiveWindow(&shown);
    QTest::keyClick(&shown, Qt::Key_W, Qt::ControlModifier);
    ASSERT_TRUE(testing::processEventsUntil([&] { return !shown.isVisible(); }));
    EXPECT_EQ(shown.state().viewModel().additionalPATH.get(), "");
}

TEST_F(SettingsWindowsGuiTest, RowsFollowTheirSwitchesAtOnce) {
    auto window = preferences();
    window->show();
    AppSettingsViewModel& v = window->state().viewModel();
    const QString reset = "Reset to Default";
    v.audioDir.set("");
    // The intermediate prompt's and the live prompt's ("Reset to Default Prompt") are always there.
    EXPECT_EQ(visibleWith<QPushButton>(*window, reset).size(), 2u);
    v.audioDir.set(dir.path().string());
    EXPECT_EQ(visibleWith<QPushButton>(*window, reset).size(), 3u);
    EXPECT_TRUE(showsText(*window, QString::fromStdString(dir.path().string())));

    v.nightlyBatchEnabled.set(true);
    EXPECT_TRUE(showsText(*window, "Run at:"));
    v.nightlyBatchEnabled.set(false);
    EXPECT_FALSE(showsText(*window, "Run at:"));

    v.enableDiarization.set(false);
    EXPECT_FALSE(showsText(*window, "Speakers (0=auto)"));
    v.summaryProvider.set("openai");
    EXPECT_TRUE(showsText(*window, "Chunk Summarization Concurrency: "));
    v.summaryProvider.set("apple_local");
    EXPECT_FALSE(showsText(*window, "Chunk Summarization Concurrency: "));
    v.summaryProvider.set("no such provider"); // the provider rule
    EXPECT_EQ(v.summaryProvider.get(), "local");

    v.screenshotEnabled.set(true);
    v.screenshotPollNormal.set(2.0);
    v.screenshotSaveMinVideo.set(20.0);
    EXPECT_TRUE(showsText(*window, "Normal polling interval: 2.0 sec"));
    EXPECT_TRUE(showsText(*window, "Min save interval (video mode): 20 sec"));
    v.screenshotPollNormal.set(20.0); // stored elsewhere, beyond the slider's 10 s
    EXPECT_TRUE(showsText(*window, "Normal polling interval: 20.0 sec"));
    QSlider* poll = window->findChildren<QSlider*>().front();
    EXPECT_EQ(poll->value(), poll->maximum());
    EXPECT_EQ(v.screenshotPollNormal.get(), 20.0);
    poll->setValue(1); // the user moves it: 1.5 s
    EXPECT_EQ(v.screenshotPollNormal.get(), 1.5);
    EXPECT_EQ(poll->maximum(), 18); // 1.0 ... 10.0 in half seconds: 19 positions
    v.screenshotEnabled.set(false);
    EXPECT_FALSE(showsText(*window, "Normal polling interval"));
}

TEST_F(SettingsWindowsGuiTest, TheProviderBlockShowsOnlyTheChosenProvidersRows) {
    auto global = std::make_shared<testing::RecordingBacking>(false);
    global->values().localSummaryModel = "custom";
    ProviderSettingsViewModel model(global);
    ProviderModelSelectionView block(model, /*supportsCLIProviders=*/false, {"a", "b"}, ModelListSource{});
    block.show();
    block.setProvider(SummaryProvider::llamaCppLocal);
    EXPECT_EQ(visibleWith<QLineEdit>(block, "").size(), 2u); // directory and model file, one value
    EXPECT_TRUE(showsText(block, "Direct Summary (Skip CoreML"));
    EXPECT_TRUE(showsText(block, "Direct Summary (Skip Llama.cpp"));
    EXPECT_TRUE(showsText(block, "not available in the App Store version"));
    model.setText(S::localSummaryModel, "a");
    EXPECT_EQ(visibleWith<QLineEdit>(block, "").size(), 1u);

    block.setProvider(SummaryProvider::openAI);
    EXPECT_EQ(keyFields(block), 5u);
    EXPECT_TRUE(block.modelPicker(SummaryProvider::openAI)->isVisibleTo(&block));
    EXPECT_FALSE(showsText(block, "Please set your API key"));

    block.setProvider(SummaryProvider::copilotCLI);
    auto* acp = visibleWith<QCheckBox>(block, "ACP Mode").front();
    EXPECT_TRUE(acp->isEnabled());
    QTest::mouseClick(acp, Qt::LeftButton);
    EXPECT_TRUE(model.flag(S::copilotCLIUseACP));
    EXPECT_TRUE(showsText(block, "known issue where model selection is ignored"));

    auto session = std::make_shared<testing::RecordingBacking>(true);
    session->values().copilotCLIUseACP = true;
    ProviderSettingsViewModel sessionModel(session);
    ProviderModelSelectionView sessionBlock(sessionModel, true, {}, ModelListSource{});
    sessionBlock.show();
    sessionBlock.setProvider(SummaryProvider::openAI);
    EXPECT_EQ(keyFields(sessionBlock), 0u);
    EXPECT_TRUE(showsText(sessionBlock, "Please set your API key in the Preferences window."));
    sessionBlock.setProvider(SummaryProvider::copilotCLI);
    auto* sessionAcp = visibleWith<QCheckBox>(sessionBlock, "ACP Mode").front();
    EXPECT_FALSE(sessionAcp->isEnabled());
    EXPECT_TRUE(sessionAcp->isChecked());
    EXPECT_TRUE(showsText(sessionBlock, "cannot be changed after recording starts"));
}

TEST_F(SettingsWindowsGuiTest, ThePickersFetchWithTheKeysAsTheyAreWhenAsked) {
    std::vector<std::tuple<SummaryProvider, std::string, std::string>> asked;
    std::mutex mutex;
    ModelListSource lists{.fetchModels =
                              [&](SummaryProvider provider, const std::string& key, const std::string& url) {
                                  std::lock_guard lock(mutex);
                                  asked.emplace_back(provider, key, url);
                                  return std::vector<std::string>{"x"};
                              },
                          .fetchOpenRouterModelInfos = {}};
    auto backing = std::make_shared<testing::RecordingBacking>(false);
    ProviderSettingsViewModel model(backing);
    model.setText(S::ollamaBaseURL, "");
    model.setText(S::geminiAPIKey, "g1");
    ProviderModelSelectionView block(model, true, {}, lists);
    bindMainDispatcherToQt(testing::qtTestApp());
    model.setText(S::geminiAPIKey, "g2 "); // after the block was built
    block.modelPicker(SummaryProvider::geminiAPI)->refreshButton()->click();
    block.modelPicker(SummaryProvider::ollama)->refreshButton()->click();
    block.modelPicker(SummaryProvider::antigravityCLI)->refreshButton()->click();
    ASSERT_TRUE(testing::processEventsUntil([&] {
        std::lock_guard lock(mutex);
        return asked.size() == 3;
    }));
    std::sort(asked.begin(), asked.end());
    EXPECT_EQ(asked[0], std::make_tuple(SummaryProvider::ollama, std::string(), std::string()));
    EXPECT_EQ(asked[1], std::make_tuple(SummaryProvider::antigravityCLI, std::string(), std::string()));
    EXPECT_EQ(asked[2], std::make_tuple(SummaryProvider::geminiAPI, std::string("g2 "), std::string()));
}

TEST_F(SettingsWindowsGuiTest, TheSessionWindowOpensOnlyWhileRecordingAndClosesWhenItStops) {
    SessionConfig config;
    config.summary.provider = "openai";
    config.liveSummary.provider = "local";
    config.capture.screenshotEmbedInSummaryEnabled = false;
    SessionSettingsEnvironment env;
    env.defaults = &store;
    env.keychain = KeychainHelper(secrets);
    env.activeConfig = [&] { return std::optional<SessionConfig>(config); };
    env.enumerateDisplays = [] {
        return std::vector<AvailableDisplay>{{.id = 0, .name = "Only", .displayID = 1}};
    };
    SessionSettingsWindowController controller(
        state(), [&] { return std::make_unique<SessionSettingsWindow>(env, state(), ModelListSource{}); });

    state().setRecordingState(RecordingState::starting());
    controller.show();
    EXPECT_EQ(controller.window(), nullptr);
    EXPECT_EQ(state().statusMessage(), "Session settings can only be changed during recording");

    state().setRecordingState(RecordingState::recording());
    controller.show();
    SessionSettingsWindow* window = controller.window();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    EXPECT_EQ(window->windowTitle(), "Session Settings");
    ASSERT_NE(window->summaryProviderBlock(), nullptr);
    EXPECT_EQ(window->summaryProviderBlock()->provider(), SummaryProvider::openAI);
    EXPECT_FALSE(showsText(*window, "Capture Display")); // a single display
    EXPECT_FALSE(showsText(*window, "Max embedded image width"));
    EXPECT_TRUE(testing::drawsSomething(*window));

    // A provider change rebuilds the block over a new model.
    ProviderModelSelectionView* before = window->summaryProviderBlock();
    window->state().summaryProvider.set("gemini");
    EXPECT_NE(window->summaryProviderBlock(), before);
    EXPECT_EQ(window->summaryProviderBlock()->provider(), SummaryProvider::geminiAPI);

    QApplication::setActiveWindow(window);
    QTest::keyClick(window, Qt::Key_W, Qt::ControlModifier);
    ASSERT_TRUE(testing::processEventsUntil([&] { return !window->isVisible(); }));
    controller.show();
    ASSERT_TRUE(testing::processEventsUntil([&] { return window->isVisible(); }));

    state().setRecordingState(RecordingState::stopping());
    EXPECT_FALSE(window->isVisible());
}

} // namespace
} // namespace velnote
