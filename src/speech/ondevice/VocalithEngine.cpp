#include "speech/ondevice/VocalithEngine.h"

namespace velnote {

SpeechEngineFactory vocalithEngineFactory() {
    return [](const vocalith::VocalithConfig&, std::stop_token) -> std::shared_ptr<SpeechEngine> {
        throw std::logic_error("the on-device speech engine is not available in this build");
    };
}

} // namespace velnote
