#include "ui/shell/QtApplicationHost.h"

#include "session/VelnoteLogger.h"
#include "ui/shell/AlertWindows.h"

#include <QApplication>
#include <QMetaObject>
#include <QWidget>

namespace velnote {

void QtApplicationHost::terminate() {
    if (delegate_ == nullptr || delegate_->applicationShouldTerminate() == AppDelegate::TerminateReply::now) {
        finish();
    } else {
        VelnoteLogger::app().info("quit requested: stopping the recording first");
    }
}

void QtApplicationHost::replyToTerminate() {
    finish();
}

void QtApplicationHost::setAccessoryActivationPolicy() {
    QApplication::setQuitOnLastWindowClosed(false);
}

void QtApplicationHost::reopenWindows() {
    QWidget* front = nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (!isApplicationWindow(widget)) {
            continue;
        }
        if (widget->isMinimized()) {
            widget->showNormal();
        }
        if (front == nullptr && widget->isVisible()) {
            front = widget;
        }
    }
    if (front != nullptr) {
        front->raise();
        front->activateWindow();
    }
    VelnoteLogger::app().info("reopen requested: {}",
                              front != nullptr ? "windows brought forward" : "no window open");
}

void QtApplicationHost::finish() {
    if (finishing_) {
        return;
    }
    finishing_ = true;
    if (delegate_ != nullptr) {
        delegate_->applicationWillTerminate();
    }
    // Queued: a quit asked for before the event loop runs (a second instance) still ends it.
    QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}

} // namespace velnote
