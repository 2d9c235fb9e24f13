#include "support/ChildProcess.h"
#include "support/TempDir.h"
#include "ui/models/AboutWindowController.h"
#include "ui/shell/support/QtTestApp.h"

#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QUrl>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>

namespace velnote {
namespace {

namespace fs = std::filesystem;

void touch(const fs::path& file) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << "x";
}

// The group box titled `title`, and how many dividers it holds.
QGroupBox* section(AboutView& view, const QString& title) {
    for (QGroupBox* box : view.findChildren<QGroupBox*>()) {
        if (box->title() == title)
            return box;
    }
    return nullptr;
}

int dividers(QGroupBox* box) {
    int count = 0;
    for (QFrame* frame : box->findChildren<QFrame*>()) {
        if (frame->frameShape() == QFrame::HLine)
            ++count;
    }
    return count;
}

class AboutWindowGuiTest : public ::testing::Test {
  protected:
    void SetUp() override { testing::qtTestApp(); }

    AboutView::Sources sources() {
        return {.resources = [this]() -> std::optional<fs::path> { return dir_.path(); },
                .executable = [this]() -> std::optional<fs::path> { return dir_ / "velnote"; },
                .open = [this](const QUrl& url) { opened_.push_back(url); }};
    }

    testing::TempDir dir_;
    std::vector<QUrl> opened_;
};

TEST_F(AboutWindowGuiTest, SectionsRowsAndDividers) {
    AboutWindowController controller(sources());
    EXPECT_EQ(controller.window().windowTitle(), "About Hushtape");
    controller.show();
    ASSERT_TRUE(testing::processEventsUntil([&] { return controller.window().isVisible(); }));
    AboutView& view = controller.view();
    for (const char* title :
         {"App", "License Management", "Main Libraries", "Bundled JavaScript Libraries",
          "Transitive Dependencies", "Transcription Models", "Summarization Models", "Speaker Diarization"}) {
        EXPECT_NE(section(view, title), nullptr) << title;
    }
    EXPECT_EQ(dividers(section(view, "Bundled JavaScript Libraries")), 0) << "one row, no divider";
    EXPECT_EQ(dividers(section(view, "Speaker Diarization")), 0);
    EXPECT_EQ(dividers(section(view, "Transitive Dependencies")), 6);
    EXPECT_EQ(dividers(section(view, "Transcription Models")), 4);

    QStringList appTexts;
    for (QLabel* label : section(view, "App")->findChildren<QLabel*>())
        appTexts << label->text();
    EXPECT_TRUE(appTexts.contains("Hushtape"));
    EXPECT_TRUE(appTexts.contains("Unknown")) << "the executable cannot be read";
    EXPECT_TRUE(appTexts.contains("Last Build Date"));
    EXPECT_TRUE(view.noticeButtons().isEmpty()) << "no notices, no buttons; the section stays";
}

TEST_F(AboutWindowGuiTest, NoticeButtonsOpenWhatWasFound) {
    touch(dir_ / "Resources/THIRD_PARTY_NOTICES.md");
    touch(dir_ / "THIRD_PARTY_LICENSES/MODEL_NOTICES.txt");
    AboutWindowController controller(sources());
    controller.show();
    const QList<QPushButton*> buttons = controller.view().noticeButtons();
    ASSERT_EQ(buttons.size(), 3);
    EXPECT_EQ(buttons[0]->text(), "Open Bundled Third-Party Notices");
    EXPECT_EQ(buttons[1]->text(), "Open Bundled Licenses Folder");
    EXPECT_EQ(buttons[2]->text(), "Open MODEL_NOTICES.txt");
    for (QPushButton* button : buttons)
        button->click();
    ASSERT_EQ(opened_.size(), 3U);
    EXPECT_EQ(opened_[0].toLocalFile().toStdString(), (dir_ / "Resources/THIRD_PARTY_NOTICES.md").string());
    EXPECT_EQ(opened_[1].toLocalFile().toStdString(), (dir_ / "THIRD_PARTY_LICENSES").string());
    EXPECT_EQ(opened_[2].toLocalFile().toStdString(),
              (dir_ / "THIRD_PARTY_LICENSES/MODEL_NOTICES.txt").string());

    fs::remove_all(dir_ / "THIRD_PARTY_LICENSES");
    controller.window().close();
    controller.show(); // read again when shown
    EXPECT_EQ(controller.view().noticeButtons().size(), 1);
}

// Every label of the sections, in order of appearance.
QStringList labelTexts(QGroupBox* box) {
    QStringList texts;
    for (QLabel* label : box->findChildren<QLabel*>())
        texts << label->text();
    return texts;
}

TEST_F(AboutWindowGuiTest, LabelsAndLinksSpeakTheInterfaceLanguage) {
    const bool japanese = std::getenv("VELNOTE_TEST_JAPANESE") != nullptr;
    if (!japanese) {
        // The interface language is fixed per process: check Japanese in a child run.
        testing::ScopedEnv language("LANG", "ja_JP.UTF-8");
        testing::ScopedEnv marker("VELNOTE_TEST_JAPANESE", "1");
        testing::ChildProcess child({"/proc/self/exe", "--gtest_filter=*LabelsAndLinksSpeak*"});
        EXPECT_EQ(child.wait(), 0);
    }
    AboutWindowController controller(sources());
    controller.show();
    AboutView& view = controller.view();
    const QStringList app = labelTexts(section(view, japanese ? "アプリ" : "App"));
    const QStringList models =
        labelTexts(section(view, japanese ? "文字起こしモデル" : "Transcription Models"));
    const QStringList libraries = labelTexts(section(view, japanese ? "主要ライブラリ" : "Main Libraries"));
    const auto has = [](const QStringList& texts, const QString& part) {
        return texts.filter(part).size() > 0;
    };
    if (japanese) {
        EXPECT_TRUE(app.contains("名前")) << app.join("|").toStdString();
        EXPECT_TRUE(app.contains("バージョン"));
        EXPECT_TRUE(models.contains("配布ライセンス: MIT")) << models.join("|").toStdString();
        EXPECT_TRUE(models.contains("上流ライセンス: MIT"));
        EXPECT_TRUE(has(models, ">配布ライセンス</a>"));
        EXPECT_TRUE(has(libraries, ">プロジェクト</a>"));
    } else {
        EXPECT_TRUE(app.contains("Name"));
        EXPECT_TRUE(app.contains("Version"));
        EXPECT_TRUE(models.contains("Distribution License: MIT"));
        EXPECT_TRUE(models.contains("Upstream License: MIT"));
        EXPECT_TRUE(has(models, ">Dist License</a>"));
        EXPECT_TRUE(has(libraries, ">Project</a>"));
        EXPECT_TRUE(has(libraries, "  |  MIT")) << "version and licence side by side";
    }
}

TEST_F(AboutWindowGuiTest, TheApplicationCarriesItsNotices) {
    const auto resources = AboutContent::resourcesDirectory();
    ASSERT_TRUE(resources) << "the build gathers the notices into its resources";
    const AboutContent::Notices notices = AboutContent::locateNotices(*resources);
    ASSERT_TRUE(notices.thirdPartyNotices);
    ASSERT_TRUE(notices.modelNotices);
    EXPECT_TRUE(fs::exists(*notices.licensesFolder / "libqt6core6.txt"));
}

} // namespace
} // namespace velnote
