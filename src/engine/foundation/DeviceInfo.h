#pragma once

#include <filesystem>
#include <string>

namespace basalith {

// What the machine says about itself, read once per process from Linux sources. Missing values
// are empty texts.
struct DeviceInfo {
    // The hardware model name: DMI's product name (for example "ThinkPad X1 Carbon Gen 11" or, in
    // a virtual machine, "Standard PC (Q35 + ICH9, 2009)"), else the device-tree model on boards
    // without DMI. Linux has no model identifier of the kind "Mac14,2", so engine tables keyed by
    // such identifiers find no entry here and fall back to their defaults.
    std::string hwModel;
    std::string processor; // /proc/cpuinfo "model name"
    std::string cores;     // "cpu cores" (physical cores of one package)
    std::string threads;   // number of logical processors listed
    std::string vendor;    // "vendor_id"
    std::string family;    // "cpu family"

    // Read at first use (thread-safe) and kept for the life of the process.
    static const DeviceInfo& current();
    // Reads the files below `root` ("/" for the machine itself; a fake tree in tests).
    static DeviceInfo read(const std::filesystem::path& root);
};

} // namespace basalith
