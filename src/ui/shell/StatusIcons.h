#pragma once

#include "app/state/RecordingState.h"

#include <QIcon>

namespace velnote {

// The tray icon of each recording state, drawn here so it shows without an icon theme:
// a microphone (idle), an hourglass (starting, stopping), a filled stop circle (recording) and a
// circled exclamation mark (error).
QIcon statusIcon(RecordingState::Phase phase);
// Which of the four drawings statusIcon() uses: "mic", "hourglass", "stop.circle.fill" or
// "exclamationmark.circle".
const char* statusSymbolName(RecordingState::Phase phase);

} // namespace velnote
