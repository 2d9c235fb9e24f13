#include "ui/shell/AuxiliaryWindow.h"

#include <QGuiApplication>
#include <QKeySequence>
#include <QScreen>
#include <QShortcut>
#include <QWidget>

namespace velnote {
namespace {

class LazyWindow final : public ShowableWindow {
  public:
    explicit LazyWindow(std::function<ShowableWindow&()> controller) : controller_(std::move(controller)) {}
    void show() override { controller_().show(); }

  private:
    std::function<ShowableWindow&()> controller_;
};

} // namespace

void setUpAuxiliaryWindow(QWidget& window, const QString& title, QSize contentSize) {
    window.setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    window.setAttribute(Qt::WA_DeleteOnClose, false);
    window.setWindowTitle(title);
    window.resize(contentSize);
    auto* close = new QShortcut(QKeySequence::Close, &window);
    close->setContext(Qt::WindowShortcut);
    QObject::connect(close, &QShortcut::activated, &window, &QWidget::close);
    centreOnScreen(window);
}

void centreOnScreen(QWidget& window) {
    QScreen* screen = window.screen() != nullptr ? window.screen() : QGuiApplication::primaryScreen();
    if (screen == nullptr)
        return;
    QRect frame = window.frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window.move(frame.topLeft());
}

void presentAuxiliaryWindow(QWidget& window) {
    if (!window.isVisible())
        centreOnScreen(window);
    window.showNormal();
    window.raise();
    window.activateWindow();
}

std::shared_ptr<ShowableWindow> makeLazyWindow(std::function<ShowableWindow&()> controller) {
    return std::make_shared<LazyWindow>(std::move(controller));
}

} // namespace velnote
