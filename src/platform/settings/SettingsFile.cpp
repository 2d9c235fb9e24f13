#include "platform/settings/SettingsFile.h"

#include "platform/fs/Files.h"
#include "platform/json/IsoDate.h"
#include "platform/json/Json.h"
#include "platform/settings/SettingsLog.h"
#include "platform/text/Base64.h"

#include <array>
#include <cmath>
#include <limits>
#include <system_error>

namespace velnote::platform {

namespace fs = std::filesystem;

namespace {

std::string toBase64(const SettingsData& bytes) {
    return base64Encoded(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

std::optional<SettingsData> fromBase64(std::string_view text) {
    const std::optional<std::string> bytes = base64Decoded(text);
    if (!bytes)
        return std::nullopt;
    return SettingsData(bytes->begin(), bytes->end());
}

Json encodeDouble(double value) {
    if (std::isnan(value))
        return "nan";
    if (std::isinf(value))
        return value > 0 ? "inf" : "-inf";
    return value;
}

double decodeDouble(const Json& json) {
    if (json == "nan")
        return std::numeric_limits<double>::quiet_NaN();
    if (json == "inf")
        return std::numeric_limits<double>::infinity();
    if (json == "-inf")
        return -std::numeric_limits<double>::infinity();
    return platform::decode<double>(json);
}

template <class... F> struct Overloaded : F... { using F::operator()...; };

Json encodeValue(const SettingsValue& value);

Json encodeDictionary(const SettingsDictionary& values) {
    Json object = Json::object();
    for (const auto& [key, value] : values)
        object[key] = encodeValue(value);
    return object;
}

Json encodeValue(const SettingsValue& value) {
    return std::visit(Overloaded{
                          [](const std::string& s) {
                              return Json{{"string", s}};
                          },
                          [](std::int64_t n) {
                              return Json{{"integer", n}};
                          },
                          [](double d) {
                              return Json{{"double", encodeDouble(d)}};
                          },
                          [](bool b) {
                              return Json{{"bool", b}};
                          },
                          [](const SettingsData& d) {
                              return Json{{"data", toBase64(d)}};
                          },
                          [](SettingsDate d) {
                              return Json{{"date", formatIsoDate(d)}};
                          },
                          [](const SettingsArray& a) {
                              Json array = Json::array();
                              for (const auto& element : a)
                                  array.push_back(encodeValue(element));
                              return Json{{"array", std::move(array)}};
                          },
                          [](const SettingsDictionary& d) {
                              return Json{{"dictionary", encodeDictionary(d)}};
                          },
                      },
                      value.storage());
}

SettingsValue decodeValue(const Json& json);

SettingsDictionary decodeDictionary(const Json& json) {
    if (!json.is_object())
        throw JsonDecodeError("", "expected an object");
    SettingsDictionary values;
    for (const auto& [key, element] : json.items()) {
        try {
            values.emplace(key, decodeValue(element));
        } catch (const JsonDecodeError& e) {
            throw e.under(key);
        }
    }
    return values;
}

SettingsValue decodeTagged(const std::string& tag, const Json& json) {
    if (tag == "string")
        return platform::decode<std::string>(json);
    if (tag == "integer")
        return platform::decode<std::int64_t>(json);
    if (tag == "double")
        return decodeDouble(json);
    if (tag == "bool")
        return platform::decode<bool>(json);
    if (tag == "date")
        return platform::decode<SettingsDate>(json);
    if (tag == "data") {
        auto bytes = fromBase64(platform::decode<std::string>(json));
        if (!bytes)
            throw JsonDecodeError("", "invalid base64");
        return std::move(*bytes);
    }
    if (tag == "array") {
        if (!json.is_array())
            throw JsonDecodeError("", "expected an array");
        SettingsArray array;
        for (std::size_t i = 0; i < json.size(); ++i) {
            try {
                array.push_back(decodeValue(json[i]));
            } catch (const JsonDecodeError& e) {
                throw e.under("[" + std::to_string(i) + "]");
            }
        }
        return array;
    }
    if (tag == "dictionary")
        return decodeDictionary(json);
    throw JsonDecodeError("", "unknown value type \"" + tag + "\"");
}

SettingsValue decodeValue(const Json& json) {
    if (!json.is_object() || json.size() != 1)
        throw JsonDecodeError("", "expected an object with one type tag");
    const auto member = json.begin();
    try {
        return decodeTagged(member.key(), member.value());
    } catch (const JsonDecodeError& e) {
        throw e.under(member.key());
    }
}

// "20250131T091500Z": the current UTC time, without characters that some
// tools dislike in file names.
std::string fileTimestamp() {
    std::string stamp = formatIsoDate(std::chrono::system_clock::now());
    std::erase_if(stamp, [](char c) { return c == '-' || c == ':'; });
    return stamp;
}

} // namespace

SettingsFile::SettingsFile(fs::path path) : path_(std::move(path)) {}

SettingsDictionary SettingsFile::load() {
    corruptFileInPlace_ = false;
    std::string text;
    try {
        text = readRegularFile(path_, kMaxFileBytes);
    } catch (const std::system_error& e) {
        if (e.code() == std::errc::no_such_file_or_directory)
            return {};
        settingsLogger().error("cannot read settings {}: {}; starting empty", path_.string(), e.what());
        corruptFileInPlace_ = true;
        return {};
    }
    try {
        return decode(text);
    } catch (const JsonDecodeError& e) {
        settingsLogger().error("corrupt settings {}: {}; starting empty", path_.string(), e.what());
        corruptFileInPlace_ = true;
        return {};
    }
}

void SettingsFile::save(std::string_view text) {
    if (path_.has_parent_path())
        createDirectories(path_.parent_path());
    if (corruptFileInPlace_)
        setCorruptFileAside();
    writeFileAtomically(path_, text);
}

void SettingsFile::setCorruptFileAside() {
    const std::string base = path_.string() + ".corrupt-" + fileTimestamp();
    fs::path aside = base;
    for (int n = 2; fs::exists(aside); ++n)
        aside = base + "-" + std::to_string(n);
    std::error_code error;
    fs::rename(path_, aside, error);
    if (error && error != std::errc::no_such_file_or_directory) {
        throw std::system_error(error, "cannot set aside corrupt settings " + path_.string());
    }
    if (!error)
        settingsLogger().notice("corrupt settings kept as {}", aside.string());
    corruptFileInPlace_ = false;
}

std::string SettingsFile::encode(const SettingsDictionary& values) {
    return toPrettyJson(encodeDictionary(values));
}

SettingsDictionary SettingsFile::decode(std::string_view text) {
    return decodeDictionary(parseJson(text));
}

} // namespace velnote::platform
