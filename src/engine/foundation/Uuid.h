#pragma once

#include "platform/text/Uuid.h"

namespace basalith {

// Tells one decoding run from another.
using Uuid = velnote::platform::Uuid;

} // namespace basalith
