#include "platform/json/Json.h"

namespace velnote::platform {

namespace {

std::string withPath(const std::string& path, const std::string& problem) {
    return path.empty() ? problem : path + ": " + problem;
}

} // namespace

JsonDecodeError::JsonDecodeError(std::string path, std::string problem)
    : std::runtime_error(withPath(path, problem)), path_(std::move(path)), problem_(std::move(problem)) {}

JsonDecodeError JsonDecodeError::under(std::string_view key) const {
    std::string path(key);
    if (!path_.empty() && path_.front() != '[')
        path += '.';
    path += path_;
    return JsonDecodeError(std::move(path), problem_);
}

std::string toPrettyJson(const Json& value) {
    return value.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

std::string toCompactJson(const Json& value) {
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

Json parseJson(std::string_view text, std::size_t maxDepth) {
    // The callback sees the depth of every value as it opens; stopping at the first one too
    // deep keeps a hostile file from building (or destroying) an enormous nested tree.
    const Json::parser_callback_t limitDepth = [maxDepth](int depth, Json::parse_event_t event, Json&) {
        const bool opens =
            event == Json::parse_event_t::object_start || event == Json::parse_event_t::array_start;
        if (opens && static_cast<std::size_t>(depth) >= maxDepth)
            throw JsonDecodeError("",
                                  "invalid JSON: nested deeper than " + std::to_string(maxDepth) + " levels");
        return true;
    };
    if (const auto nul = text.find('\0'); nul != std::string_view::npos)
        throw JsonDecodeError("", "invalid JSON: NUL byte at offset " + std::to_string(nul));
    try {
        return Json::parse(text, limitDepth);
    } catch (const Json::exception& e) {
        // Also out_of_range: a number beyond a double ("1e999").
        throw JsonDecodeError("", std::string("invalid JSON: ") + e.what());
    }
}

namespace detail {

std::string typeName(const Json& value) {
    if (value.is_number_float())
        return "a floating-point number";
    if (value.is_number())
        return "an integer";
    if (value.is_boolean())
        return "a bool";
    if (value.is_string())
        return "a string";
    if (value.is_array())
        return "an array";
    if (value.is_object())
        return "an object";
    return "null";
}

void throwWrongType(const Json& value, std::string_view expected) {
    throw JsonDecodeError("", "expected " + std::string(expected) + ", found " + typeName(value));
}

const Json* findMember(const Json& object, std::string_view key) {
    if (!object.is_object())
        throwWrongType(object, "an object");
    const auto it = object.find(key);
    return it == object.end() ? nullptr : &*it;
}

} // namespace detail

} // namespace velnote::platform
