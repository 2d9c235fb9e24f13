#pragma once

#include "platform/json/Json.h"

#include <string>

namespace velnote {

// The encoder shared by "foreground_app_log.jsonl", "activity_log.jsonl" and
// "activity_state.json": compact, every object's keys in ascending order, text
// outside ASCII written as UTF-8, and each "/" inside a string written as "\/"
// (a reader of the platform's JSON files expects it escaped). No line feed at the end.
std::string encodeActivityJson(const platform::Json& value);

} // namespace velnote
