#include "ui/shell/QtMainLoop.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>

namespace velnote {

void bindMainDispatcherToQt(QCoreApplication& application, platform::MainDispatcher& dispatcher) {
    QPointer<QCoreApplication> target(&application);
    dispatcher.setPoster([target](platform::Job job) {
        // Queued: the job runs from the event loop even when posted on the main thread itself.
        // Jobs posted after the application object is gone are dropped with it.
        if (target) {
            QMetaObject::invokeMethod(target.data(), std::move(job), Qt::QueuedConnection);
        }
    });
}

} // namespace velnote
