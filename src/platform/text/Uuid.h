#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velnote::platform {

// A 128-bit identifier (of list entries, decoding runs, model-slot requests), written in the standard
// hyphenated upper-case form "E621E1F8-C36C-495A-93FC-0C247A3E6E5F".
struct Uuid {
    std::array<std::uint8_t, 16> bytes{};

    // A random (version 4) identifier.
    static Uuid random();
    // 8-4-4-4-12 hexadecimal digits in either case; std::nullopt otherwise.
    static std::optional<Uuid> parse(std::string_view text);
    std::string toString() const;

    bool operator==(const Uuid&) const = default;
};

} // namespace velnote::platform

template <> struct std::hash<velnote::platform::Uuid> {
    std::size_t operator()(const velnote::platform::Uuid& uuid) const noexcept;
};
