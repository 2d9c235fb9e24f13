#include "engine/diarization/result/SpeakerInfo.h"

#include <array>

namespace diarith {

using velnote::platform::Json;
using velnote::platform::JsonDecodeError;

std::optional<std::int64_t> SpeakerInfo::speakerId() const {
    if (const auto* id = std::get_if<std::int64_t>(&value_))
        return *id;
    return std::nullopt;
}

std::vector<std::int64_t> SpeakerInfo::speakerIds() const {
    if (const auto* ids = std::get_if<std::vector<std::int64_t>>(&value_))
        return *ids;
    if (const auto* id = std::get_if<std::int64_t>(&value_))
        return {*id};
    return {};
}

std::string SpeakerInfo::description() const {
    switch (kind()) {
    case Kind::speakerId:
        return "Speaker " + std::to_string(*speakerId());
    case Kind::multiple: {
        std::string list;
        for (std::int64_t id : speakerIds())
            list += (list.empty() ? "" : ", ") + std::to_string(id);
        return "Multiple Speakers: [" + list + "]";
    }
    case Kind::noMatch:
        break;
    }
    return "No Speaker Matched";
}

void to_json(Json& json, const SpeakerInfo& info) {
    switch (info.kind()) {
    case SpeakerInfo::Kind::noMatch:
        json = Json{{"noMatch", Json::object()}};
        return;
    case SpeakerInfo::Kind::multiple:
        json = Json{{"multiple", Json{{"_0", info.speakerIds()}}}};
        return;
    case SpeakerInfo::Kind::speakerId:
        json = Json{{"speakerId", Json{{"_0", *info.speakerId()}}}};
        return;
    }
}

namespace {

// The "_0" member of the object under `key`.
template <class T> T payloadValue(const Json& json, const char* key) {
    const Json& value = json.at(key);
    try {
        if (!value.is_object())
            velnote::platform::detail::throwWrongType(value, "an object");
        return velnote::platform::required<T>(value, "_0");
    } catch (const JsonDecodeError& e) {
        throw e.under(key);
    }
}

} // namespace

void from_json(const Json& json, SpeakerInfo& info) {
    if (!json.is_object())
        velnote::platform::detail::throwWrongType(json, "an object");
    constexpr std::array<const char*, 3> keys{"noMatch", "multiple", "speakerId"};
    int found = 0;
    for (const char* key : keys)
        found += json.contains(key) ? 1 : 0;
    if (found != 1)
        throw JsonDecodeError("", "Invalid number of keys found, expected one.");
    if (json.contains("multiple")) {
        info = SpeakerInfo::multiple(payloadValue<std::vector<std::int64_t>>(json, "multiple"));
    } else if (json.contains("speakerId")) {
        info = SpeakerInfo::speakerId(payloadValue<std::int64_t>(json, "speakerId"));
    } else if (!json.at("noMatch").is_object()) {
        throw JsonDecodeError("noMatch", "expected an object, found " +
                                             velnote::platform::detail::typeName(json.at("noMatch")));
    } else {
        info = SpeakerInfo::noMatch();
    }
}

} // namespace diarith

std::size_t std::hash<diarith::SpeakerInfo>::operator()(const diarith::SpeakerInfo& info) const noexcept {
    std::size_t seed = static_cast<std::size_t>(info.kind());
    for (std::int64_t id : info.speakerIds())
        seed = seed * 1000003u ^ std::hash<std::int64_t>{}(id);
    return seed;
}
