#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace basalith {

// A random (version 4) UUID, used to tell one decoding run from another.
struct Uuid {
    std::array<std::uint8_t, 16> bytes{};

    static Uuid random();
    // Upper-case 8-4-4-4-12 hexadecimal form.
    std::string toString() const;

    friend bool operator==(const Uuid&, const Uuid&) = default;
};

} // namespace basalith

template <> struct std::hash<basalith::Uuid> {
    std::size_t operator()(const basalith::Uuid& uuid) const noexcept;
};
