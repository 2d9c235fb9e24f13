#include "platform/text/Normalization.h"

#include "platform/text/IcuSupport.h"

namespace velnote::platform {

std::string nfc(std::string_view text) {
    return normalizeUtf8(&icu::Normalizer2::getNFCInstance, text);
}

std::string nfkc(std::string_view text) {
    return normalizeUtf8(&icu::Normalizer2::getNFKCInstance, text);
}

} // namespace velnote::platform
