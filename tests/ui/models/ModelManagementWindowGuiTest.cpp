#include "support/TempDir.h"
#include "ui/models/ModelManagementWindowController.h"
#include "ui/models/core/ByteCountText.h"
#include "ui/shell/support/QtTestApp.h"

#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <fstream>
#include <gtest/gtest.h>

namespace velnote {
namespace {

namespace fs = std::filesystem;

void writeBytes(const fs::path& file, std::size_t count) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << std::string(count, 'x');
}

class ModelManagementWindowGuiTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testing::qtTestApp();
        writeBytes(dir_ / "Models/qwen.gguf", 1'500'000);
        writeBytes(dir_ / "Models/llama.gguf", 2'000'000);
        writeBytes(dir_ / "hub/models--openai--whisper-base/blobs/a", 3'000'000);
    }

    void addMarkupNamedModel() { writeBytes(dir_ / "Models/<b>bold<br>.gguf", 0); }

    // Runs the Qt loop and the store's answers until `done`.
    bool until(const std::function<bool()>& done) {
        return testing::processEventsUntil([&] {
            main_.runPending();
            return done();
        });
    }
    bool shown(ModelManagementWindowController& controller, const QString& area) {
        return until([&] { return controller.view().currentArea() == area; });
    }
    void selectRows(QListWidget* list, std::initializer_list<int> rows) {
        list->clearSelection();
        for (int row : rows)
            list->item(row)->setSelected(true);
    }

    testing::TempDir dir_;
    platform::MainDispatcher main_;
    std::shared_ptr<ModelManaging> store_ = std::make_shared<DefaultModelManager>(
        ModelFolders{.summarizationModelsDir = dir_ / "Models",
                     .whisperModelRoots = {.hub = dir_ / "hub", .repositories = std::nullopt}});
    ModelManagementState::Dependencies dependencies_{.store = store_, .main = &main_};
};

TEST_F(ModelManagementWindowGuiTest, ShowingReadsTheListWithItsKindsAndTotal) {
    addMarkupNamedModel();
    ModelManagementWindowController controller(dependencies_);
    EXPECT_EQ(controller.window().windowTitle(), "Model Management");
    ModelManagementView& view = controller.view();
    EXPECT_EQ(view.totalLabel()->text(), "Total size: 0 MB");
    controller.show();
    EXPECT_EQ(view.currentArea(), "loading");
    ASSERT_TRUE(shown(controller, "list"));

    EXPECT_EQ(view.totalLabel()->text(), "Total size: 6.5 MB");
    ASSERT_EQ(view.list()->count(), 4);
    std::map<QString, QString> symbolByName;
    std::map<QString, QStringList> textsByName;
    for (int i = 0; i < view.list()->count(); ++i) {
        QWidget* row = view.list()->itemWidget(view.list()->item(i));
        const QLabel* nameLabel = row->findChild<QLabel*>("name");
        EXPECT_EQ(nameLabel->textFormat(), Qt::PlainText) << "a file name is shown as it is, never as markup";
        const QString name = nameLabel->text();
        for (QLabel* label : row->findChildren<QLabel*>()) {
            if (label->property("symbol").toString().contains(".fill") && symbolByName[name].isEmpty())
                symbolByName[name] = label->property("symbol").toString();
            textsByName[name] << label->text();
        }
    }
    EXPECT_EQ(symbolByName["qwen.gguf"], "doc.text.fill");
    EXPECT_EQ(symbolByName["openai/whisper-base"], "waveform.circle.fill");
    EXPECT_TRUE(textsByName["qwen.gguf"].contains("Summarization model"));
    EXPECT_TRUE(textsByName["qwen.gguf"].contains("1.5 MB"));
    EXPECT_TRUE(textsByName["openai/whisper-base"].contains("Whisper model"));
    EXPECT_TRUE(textsByName.contains("<b>bold<br>.gguf"));

    const QImage shot = controller.window().grab().toImage();
    ASSERT_FALSE(shot.isNull());
    bool varied = false;
    for (int y = 0; y < shot.height() && !varied; y += 4) {
        for (int x = 0; x < shot.width() && !varied; x += 4)
            varied = shot.pixel(x, y) != shot.pixel(0, 0);
    }
    EXPECT_TRUE(varied) << "the window draws something";
}

TEST_F(ModelManagementWindowGuiTest, TheButtonsFollowTheSelectionAndDeletionAsksFirst) {
    ModelManagementWindowController controller(dependencies_);
    controller.show();
    ASSERT_TRUE(shown(controller, "list"));
    ModelManagementView& view = controller.view();
    EXPECT_FALSE(view.clearButton()->isEnabled());
    EXPECT_FALSE(view.deleteButton()->isEnabled());
    selectRows(view.list(), {0});
    EXPECT_TRUE(view.clearButton()->isEnabled());
    EXPECT_TRUE(view.deleteButton()->isEnabled());
    view.clearButton()->click();
    EXPECT_FALSE(view.deleteButton()->isEnabled());
    EXPECT_TRUE(view.list()->selectedItems().isEmpty());

    selectRows(view.list(), {0, 1, 2});
    view.deleteButton()->click();
    ASSERT_NE(view.confirmation(), nullptr);
    EXPECT_EQ(view.confirmation()->text(), "Delete 3 models?\nThis action cannot be undone.");
    view.confirmation()->button(QMessageBox::Cancel)->click();
    ASSERT_TRUE(until([&] { return view.confirmation() == nullptr; }));
    EXPECT_EQ(controller.state().selectedModels().size(), 3U) << "dismissing keeps the selection";
    EXPECT_TRUE(fs::exists(dir_ / "Models/qwen.gguf"));

    view.deleteButton()->click();
    ASSERT_NE(view.confirmation(), nullptr);
    for (QAbstractButton* button : view.confirmation()->buttons()) {
        if (button->text() == "Delete")
            button->click();
    }
    ASSERT_TRUE(shown(controller, "empty"));
    EXPECT_FALSE(fs::exists(dir_ / "Models/qwen.gguf"));
    EXPECT_FALSE(fs::exists(dir_ / "hub/models--openai--whisper-base"));
    EXPECT_FALSE(view.deleteButton()->isEnabled());
    EXPECT_EQ(view.totalLabel()->text(), "Total size: 0 MB");
}

TEST_F(ModelManagementWindowGuiTest, AFailedDeletionShowsTheErrorUntilTheWindowIsShownAgain) {
    ModelManagementWindowController controller(dependencies_);
    controller.show();
    ASSERT_TRUE(shown(controller, "list"));
    ModelManagementView& view = controller.view();
    selectRows(view.list(), {0, 1, 2});
    fs::remove(dir_ / "Models/llama.gguf"); // gone behind the window's back
    controller.state().deleteSelectedModels();
    ASSERT_TRUE(shown(controller, "error"));
    EXPECT_TRUE(
        view.errorLabel()->text().startsWith("Failed to delete models: \"llama.gguf\" couldn't be removed"))
        << view.errorLabel()->text().toStdString();
    EXPECT_TRUE(view.deleteButton()->isEnabled()) << "the selection stays";

    controller.window().close();
    controller.show();
    ASSERT_TRUE(shown(controller, "list"));
    EXPECT_LT(view.list()->count(), 3);
}

} // namespace
} // namespace velnote
