#pragma once

#include "app/shell/ShellWindows.h"

#include <QSize>
#include <QString>
#include <functional>
#include <memory>

class QWidget;

namespace velnote {

// Makes `window` one of the application's own windows: a top-level window with a title bar, a
// close, a minimise and a maximise button, `contentSize` large at first and centred once on the
// screen. Closing it only hides it (the window and what it shows stay for the next opening), and
// Ctrl+W (the platform's Close key) closes it. Main thread.
void setUpAuxiliaryWindow(QWidget& window, const QString& title, QSize contentSize);

// What show() of a window's controller does: centres `window` when it is not visible, shows it,
// raises it and asks the window manager to make it the active window.
void presentAuxiliaryWindow(QWidget& window);

// Centres `window` on the screen it is on (the primary screen before it was ever shown).
void centreOnScreen(QWidget& window);

// A slot of ShellWindows whose controller is made on the first show(), by `controller`, so that a
// window nobody opens is never built.
std::shared_ptr<ShowableWindow> makeLazyWindow(std::function<ShowableWindow&()> controller);

} // namespace velnote
