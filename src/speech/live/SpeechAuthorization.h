#pragma once

#include "platform/speech/SpeechAuthorizer.h"

#include <stop_token>

namespace velnote {

// Whether speech recognition may run: true when authorized; false when denied or restricted, or
// when `stop` is requested before the answer. When the permission was never asked, asks and waits
// for the answer; the answer may come on any thread, and a late one after a stop is ignored.
bool ensureSpeechAuthorization(platform::SpeechAuthorizer& authorizer, const std::stop_token& stop = {});

} // namespace velnote
