#include "session/folder/SummaryRunConfig.h"

namespace velnote {
using platform::Json;

void to_json(Json& j, const SummaryRunConfig& c) {
    j = Json::object();
    j["provider"] = c.provider;
    j["model"] = c.model;
    platform::setIfPresent(j, "promptKey", c.promptKey);
    platform::setIfPresent(j, "promptLabel", c.promptLabel);
    j["outputLanguage"] = c.outputLanguage;
    j["userNote"] = c.userNote;
}

void from_json(const Json& j, SummaryRunConfig& c) {
    c.provider = platform::required<std::string>(j, "provider");
    c.model = platform::required<std::string>(j, "model");
    c.promptKey = platform::optional<std::string>(j, "promptKey");
    c.promptLabel = platform::optional<std::string>(j, "promptLabel");
    c.outputLanguage = platform::required<std::string>(j, "outputLanguage");
    c.userNote = platform::required<std::string>(j, "userNote");
}

} // namespace velnote
