#pragma once

class QDialog;
class QWidget;

namespace velnote {

// A window the user sees as one of the application's: a top-level window or dialog that the
// window manager decorates. The tray icon's own embedded window, popups and tool tips are not.
bool isApplicationWindow(const QWidget* widget);
// The window an error alert attaches to: the active window, else the first visible application
// window, else none (the alert is then application-modal).
QWidget* keyOrFirstWindow();
// The window a question attaches to: the first visible top-level window that is not a tool
// window (the floating recording panel is one), else none.
QWidget* firstVisibleNonPanelWindow();

// Shows `dialog` without a nested event loop: modal to `window` when there is one, else to the
// whole application.
void showModal(QDialog& dialog, QWidget* window);

} // namespace velnote
