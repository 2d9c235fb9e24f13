#pragma once

// Bad variants of a valid JSON document that every decoder must refuse with its own error: a
// number beyond a double, nesting thousands of levels deep, a NUL byte with text after it, and
// dates whose offset moves them out of the years 0000-9999.

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

namespace velnote::testing {

struct BadJson {
    std::string name;
    std::string text;
};

// Where the variants put their bad values, as JSON pointers into the valid document ("/pid",
// "/config/startedAt"); a member that is missing is added. An empty date pointer leaves dates out.
struct BadJsonFields {
    std::string number = "/overflow";
    std::string nested = "/nested";
    std::string date{};
};

namespace detail {

// `valid` with the value at `pointer` (added when missing) replaced by `raw` JSON text, which
// nlohmann could not hold.
inline std::string withRawValue(nlohmann::json valid, const std::string& pointer, std::string_view raw) {
    constexpr std::string_view kPlaceholder = "\"@@bad-value@@\"";
    valid[nlohmann::json::json_pointer(pointer)] = "@@bad-value@@";
    std::string text = valid.dump();
    text.replace(text.find(kPlaceholder), kPlaceholder.size(), raw);
    return text;
}

} // namespace detail

// Nesting far deeper than any file the application writes: `depth` arrays inside one another.
inline std::string deeplyNested(std::size_t depth = 5000) {
    return std::string(depth, '[') + std::string(depth, ']');
}

inline std::vector<BadJson> badJsonVariants(const nlohmann::json& valid, const BadJsonFields& fields = {}) {
    std::vector<BadJson> variants = {
        {"number 1e999", detail::withRawValue(valid, fields.number, "1e999")},
        {"number -1e999", detail::withRawValue(valid, fields.number, "-1e999")},
        {"nested 5000 levels", detail::withRawValue(valid, fields.nested, deeplyNested())},
        {"NUL then text", valid.dump() + std::string("\0{\"more\":1}", 11)},
    };
    if (!fields.date.empty()) {
        variants.push_back(
            {"date past 9999", detail::withRawValue(valid, fields.date, "\"9999-12-31T23:30:00-01:00\"")});
        variants.push_back(
            {"date before 0000", detail::withRawValue(valid, fields.date, "\"0000-01-01T00:30:00+01:00\"")});
    }
    return variants;
}

} // namespace velnote::testing
