#pragma once

// The engine's JSON helpers on top of the platform's strict decoding: 32-bit floats that read back
// exactly, numbers that refuse to overflow, and token-id keyed objects.
//
// Records are written with a template over the JSON type: `OrderedJson` keeps members in field
// order (the result files), the platform's `Json` sorts them (the application's cache). Records
// are read from the platform's `Json` only.

#include "platform/json/Json.h"

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>

namespace vocalith {

using Json = velnote::platform::Json;
using OrderedJson = nlohmann::ordered_json;
using JsonDecodeError = velnote::platform::JsonDecodeError;

// A value that JSON cannot hold: NaN or an infinity. Writing stops at the first one; `path` names
// the member.
class JsonEncodeError : public std::runtime_error {
  public:
    JsonEncodeError(const std::string& path, const std::string& problem);
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

// The JSON number for a 32-bit float: the shortest decimal that reads back to the same float, so a
// file shows 0.1 rather than 0.10000000149011612. Throws JsonEncodeError (with `key`) for NaN and
// infinities.
double jsonFloat(float value, std::string_view key);
// The value itself; throws JsonEncodeError for NaN and infinities.
double jsonDouble(double value, std::string_view key);

// A finite JSON number that fits a 32-bit float (1e300 does not). Throws JsonDecodeError.
float decodeFloat(const Json& value);
// A finite JSON number (1e999 reads as an infinity and is refused). Throws JsonDecodeError.
double decodeDouble(const Json& value);
float requiredFloat(const Json& object, std::string_view key);
double requiredDouble(const Json& object, std::string_view key);
// Absent when missing or null.
std::optional<float> optionalFloat(const Json& object, std::string_view key);

// Token id → log-probability as an object whose member names are the ids in decimal: {"50257": -0.5}.
template <class J> J tokenLogProbsJson(const std::map<std::int64_t, float>& probs, std::string_view key);
// Throws JsonDecodeError when a member name is not a decimal integer in the 64-bit range.
std::map<std::int64_t, float> decodeTokenLogProbs(const Json& value);

} // namespace vocalith
