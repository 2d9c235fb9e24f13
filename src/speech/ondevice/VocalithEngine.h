#pragma once

#include "speech/ondevice/SpeechEngine.h"

namespace velnote {

// Builds the on-device speech engine for a configuration.
SpeechEngineFactory vocalithEngineFactory();

} // namespace velnote
