#pragma once

class QApplication;

namespace velnote {

// Builds the running application on `application` (the composition root: the real objects behind
// every seam of the shell), runs the launch sequence and the event loop, and returns the exit
// status. Main thread.
int runShell(QApplication& application);

} // namespace velnote
