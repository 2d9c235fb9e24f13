#pragma once

#include "platform/process/ChildProcess.h"

#include <string>
#include <vector>

namespace velnote {

enum class ToolLookup {
    onPath,             // through /usr/bin/env, which looks the command up on the given PATH
    directWhenAbsolute, // an absolute command runs as it stands; any other as onPath
};

// The process of a command-line tool: `command`, then `arguments`, in the application's
// environment with PATH set to `path`.
//
// The arguments and the PATH carry caller text (prompts built from transcripts, screen text and
// notes, model names, settings), where a NUL byte can arrive through a "\u0000" in a JSON file.
// An argument or environment entry ends at its first NUL, so the NUL bytes are dropped here and the
// text on both sides of one reaches the tool. The command is left as it stands: one holding a NUL
// names no tool, and the launch refuses it.
platform::ProcessSpec toolProcessSpec(const std::string& command, const std::vector<std::string>& arguments,
                                      const std::string& path, ToolLookup lookup = ToolLookup::onPath);

} // namespace velnote
