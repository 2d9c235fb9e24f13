#include "providers/ondevice/OnDeviceLanguageModel.h"

namespace velnote {

OnDeviceGenerationError::OnDeviceGenerationError(Kind kind, const std::string& detail)
    : std::runtime_error(detail), kind_(kind) {}

} // namespace velnote
