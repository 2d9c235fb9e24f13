#include "platform/text/Uuid.h"

#include <mutex>
#include <random>

namespace velnote::platform {
namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

Uuid Uuid::random() {
    static std::mutex mutex;
    static std::mt19937_64 engine{std::random_device{}()};
    Uuid uuid;
    {
        std::lock_guard lock(mutex);
        for (std::size_t i = 0; i < uuid.bytes.size(); i += 8) {
            const std::uint64_t word = engine();
            for (std::size_t j = 0; j < 8; ++j)
                uuid.bytes[i + j] = static_cast<std::uint8_t>(word >> (8 * j));
        }
    }
    uuid.bytes[6] = static_cast<std::uint8_t>((uuid.bytes[6] & 0x0F) | 0x40); // version 4
    uuid.bytes[8] = static_cast<std::uint8_t>((uuid.bytes[8] & 0x3F) | 0x80); // RFC 4122 variant
    return uuid;
}

std::optional<Uuid> Uuid::parse(std::string_view text) {
    if (text.size() != 36)
        return std::nullopt;
    std::string digits;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool dashPlace = i == 8 || i == 13 || i == 18 || i == 23;
        if (dashPlace != (text[i] == '-'))
            return std::nullopt;
        if (!dashPlace)
            digits += text[i];
    }
    Uuid uuid;
    for (std::size_t i = 0; i < uuid.bytes.size(); ++i) {
        const int high = hexValue(digits[2 * i]);
        const int low = hexValue(digits[2 * i + 1]);
        if (high < 0 || low < 0)
            return std::nullopt;
        uuid.bytes[i] = static_cast<std::uint8_t>(high * 16 + low);
    }
    return uuid;
}

std::string Uuid::toString() const {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            text += '-';
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0x0F];
    }
    return text;
}

} // namespace velnote::platform

std::size_t
std::hash<velnote::platform::Uuid>::operator()(const velnote::platform::Uuid& uuid) const noexcept {
    std::size_t h = 0;
    for (auto byte : uuid.bytes)
        h = h * 131 + byte;
    return h;
}
