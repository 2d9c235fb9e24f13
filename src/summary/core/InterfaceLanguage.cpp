#include "summary/core/InterfaceLanguage.h"

#include "session/l10n/L10n.h"

namespace velnote {

InterfaceLanguage currentInterfaceLanguage() {
    return L10n::isJapanese() ? InterfaceLanguage::japanese : InterfaceLanguage::english;
}

} // namespace velnote
