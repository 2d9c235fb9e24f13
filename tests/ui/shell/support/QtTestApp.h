#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QThread>
#include <QWidget>
#include <chrono>
#include <cstdlib>
#include <functional>

namespace velnote::testing {

// The one QApplication of a GUI test program, made on first use: on the display the test
// services give (DISPLAY), else offscreen.
inline QApplication& qtTestApp() {
    static int argc = 1;
    static char name[] = "velnote-gui-test";
    static char* argv[] = {name, nullptr};
    if (std::getenv("DISPLAY") == nullptr || *std::getenv("DISPLAY") == '\0') {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    }
    static QApplication* app = [] {
        auto* created = new QApplication(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
        return created;
    }();
    return *app;
}

inline bool hasDisplay() {
    return QGuiApplication::platformName() == QLatin1String("xcb");
}

// Whether `widget` paints anything but one flat colour (sampled every third pixel).
inline bool drawsSomething(QWidget& widget) {
    const QImage shot = widget.grab().toImage();
    for (int y = 0; y < shot.height(); y += 3) {
        for (int x = 0; x < shot.width(); x += 3) {
            if (shot.pixel(x, y) != shot.pixel(0, 0)) {
                return true;
            }
        }
    }
    return false;
}

// Runs the event loop until `done()` or `timeout`; returns done().
inline bool processEventsUntil(const std::function<bool()>& done,
                               std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeout.count()) {
            return done();
        }
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

} // namespace velnote::testing
