#include "engine/foundation/Uuid.h"

#include <mutex>
#include <random>
#include <string_view>

namespace basalith {

Uuid Uuid::random() {
    static std::mutex mutex;
    static std::mt19937_64 engine{std::random_device{}()};
    std::uint64_t high = 0;
    std::uint64_t low = 0;
    {
        std::lock_guard lock(mutex);
        high = engine();
        low = engine();
    }
    Uuid uuid;
    for (int i = 0; i < 8; ++i) {
        uuid.bytes[i] = static_cast<std::uint8_t>(high >> (8 * i));
        uuid.bytes[8 + i] = static_cast<std::uint8_t>(low >> (8 * i));
    }
    uuid.bytes[6] = static_cast<std::uint8_t>((uuid.bytes[6] & 0x0F) | 0x40); // version 4
    uuid.bytes[8] = static_cast<std::uint8_t>((uuid.bytes[8] & 0x3F) | 0x80); // RFC 4122 variant
    return uuid;
}

std::string Uuid::toString() const {
    static constexpr std::string_view digits = "0123456789ABCDEF";
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            text += '-';
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0x0F];
    }
    return text;
}

} // namespace basalith

std::size_t std::hash<basalith::Uuid>::operator()(const basalith::Uuid& uuid) const noexcept {
    std::size_t h = 0;
    for (auto byte : uuid.bytes)
        h = h * 131 + byte;
    return h;
}
