#pragma once

#include "platform/concurrency/MainDispatcher.h"

class QCoreApplication;

namespace velnote {

// Makes the Qt event loop the core's main thread: every job posted to `dispatcher` runs on the
// application's thread, in order, from the event loop. Call on the thread that runs the loop.
void bindMainDispatcherToQt(QCoreApplication& application,
                            platform::MainDispatcher& dispatcher = platform::MainDispatcher::shared());

} // namespace velnote
