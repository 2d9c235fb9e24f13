#include "providers/cli/ToolProcess.h"

#include <algorithm>

namespace velnote {
namespace {

std::string withoutNul(std::string text) {
    std::erase(text, '\0');
    return text;
}

} // namespace

platform::ProcessSpec toolProcessSpec(const std::string& command, const std::vector<std::string>& arguments,
                                      const std::string& path, ToolLookup lookup) {
    platform::ProcessSpec spec;
    if (lookup == ToolLookup::directWhenAbsolute && command.starts_with('/')) {
        spec.executable = command;
    } else {
        spec.executable = "/usr/bin/env";
        spec.arguments.push_back(command);
    }
    for (const std::string& argument : arguments)
        spec.arguments.push_back(withoutNul(argument));
    spec.environment = platform::environmentWith("PATH", withoutNul(path));
    return spec;
}

} // namespace velnote
