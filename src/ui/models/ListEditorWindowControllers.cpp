#include "ui/models/ListEditorWindowControllers.h"

#include "session/l10n/L10n.h"
#include "ui/shell/AuxiliaryWindow.h"

#include <QCoreApplication>
#include <QVBoxLayout>

namespace velnote {
namespace {

// Hosts `view` in `window` and writes the editor's pending save when the application quits.
template <class Editor> void host(QWidget& window, QWidget* view, Editor& editor) {
    auto* layout = new QVBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view);
    if (QCoreApplication* application = QCoreApplication::instance()) {
        QObject::connect(application, &QCoreApplication::aboutToQuit, &window,
                         [&editor] { editor.flushPendingSave(); });
    }
}

QString title(std::string_view key, std::string_view english) {
    return QString::fromStdString(L10n::localized(key, english));
}

} // namespace

HallucinationFilterWindowController& HallucinationFilterWindowController::shared() {
    static auto* controller = new HallucinationFilterWindowController();
    return *controller;
}

HallucinationFilterWindowController::HallucinationFilterWindowController(platform::SettingsStore* settings,
                                                                         ListEditorDependencies dependencies)
    : editor_(settings, dependencies), window_(std::make_unique<QWidget>()) {
    // The menu item's own text, dots included.
    setUpAuxiliaryWindow(*window_, title("L10n.MenuBar.hallucinationFilter", "Hallucination Filter..."),
                         QSize(520, 400));
    view_ = new HallucinationFilterView(editor_, window_.get());
    host(*window_, view_, editor_);
}

HallucinationFilterWindowController::~HallucinationFilterWindowController() {
    window_.reset();
}

void HallucinationFilterWindowController::show() {
    presentAuxiliaryWindow(*window_);
}

UserDictionaryWindowController& UserDictionaryWindowController::shared() {
    static auto* controller = new UserDictionaryWindowController();
    return *controller;
}

UserDictionaryWindowController::UserDictionaryWindowController(platform::SettingsStore* settings,
                                                               ListEditorDependencies dependencies)
    : editor_(settings, dependencies), window_(std::make_unique<QWidget>()) {
    setUpAuxiliaryWindow(*window_, title("L10n.Windows.userDictionary", "User Dictionary"), QSize(520, 400));
    view_ = new UserDictionaryView(editor_, window_.get());
    host(*window_, view_, editor_);
}

UserDictionaryWindowController::~UserDictionaryWindowController() {
    window_.reset();
}

void UserDictionaryWindowController::show() {
    presentAuxiliaryWindow(*window_);
}

} // namespace velnote
