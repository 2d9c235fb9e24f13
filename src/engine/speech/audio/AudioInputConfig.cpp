#include "engine/speech/audio/AudioInputConfig.h"

namespace vocalith {

namespace {

constexpr const char* kSpecific = "specificChannel";
constexpr const char* kSum = "sumChannels";
constexpr const char* kPayload = "_0";

} // namespace

template <class J> void to_json(J& json, const ChannelMode& mode) {
    J payload = J::object();
    if (const auto* specific = std::get_if<AudioInputConfig::SpecificChannel>(&mode)) {
        payload[kPayload] = specific->channel;
        json = J::object();
        json[kSpecific] = std::move(payload);
        return;
    }
    const auto& sum = std::get<AudioInputConfig::SumChannels>(mode);
    if (sum.channels)
        payload[kPayload] = *sum.channels;
    json = J::object();
    json[kSum] = std::move(payload);
}
template void to_json<Json>(Json&, const ChannelMode&);
template void to_json<OrderedJson>(OrderedJson&, const ChannelMode&);

void from_json(const Json& json, ChannelMode& mode) {
    using velnote::platform::decode;
    if (!json.is_object())
        velnote::platform::detail::throwWrongType(json, "an object");
    const bool specific = json.contains(kSpecific);
    if (specific == json.contains(kSum))
        throw JsonDecodeError("", "Invalid number of keys found, expected one.");
    const char* key = specific ? kSpecific : kSum;
    const Json& payload = json.at(key);
    if (!payload.is_object())
        throw JsonDecodeError(key, "expected an object");
    try {
        if (specific) {
            mode = AudioInputConfig::SpecificChannel{velnote::platform::required<int>(payload, kPayload)};
        } else {
            mode = AudioInputConfig::SumChannels{
                velnote::platform::optional<std::vector<int>>(payload, kPayload)};
        }
    } catch (const JsonDecodeError& error) {
        throw error.under(key);
    }
}

} // namespace vocalith
