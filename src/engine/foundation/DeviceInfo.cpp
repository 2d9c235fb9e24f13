#include "engine/foundation/DeviceInfo.h"

#include <fstream>
#include <sstream>

namespace basalith {
namespace {

std::string trimmed(const std::string& text) {
    constexpr const char* space = " \t\n\r\v\f";
    const auto first = text.find_first_not_of(space);
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(space) - first + 1);
}

// The file's text up to its first NUL byte (device-tree strings end in one), trimmed.
std::string readText(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    std::string text = buffer.str();
    if (auto nul = text.find('\0'); nul != std::string::npos)
        text.resize(nul);
    return trimmed(text);
}

void readCpuInfo(const std::filesystem::path& file, DeviceInfo& info) {
    std::ifstream in(file);
    std::string line;
    int processors = 0;
    auto takeFirst = [](std::string& field, const std::string& value) {
        if (field.empty())
            field = value;
    };
    while (std::getline(in, line)) {
        const auto colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        const std::string key = trimmed(line.substr(0, colon));
        const std::string value = trimmed(line.substr(colon + 1));
        if (key == "processor")
            ++processors;
        if (key == "model name")
            takeFirst(info.processor, value);
        if (key == "cpu cores")
            takeFirst(info.cores, value);
        if (key == "vendor_id")
            takeFirst(info.vendor, value);
        if (key == "cpu family")
            takeFirst(info.family, value);
    }
    if (processors > 0)
        info.threads = std::to_string(processors);
}

} // namespace

DeviceInfo DeviceInfo::read(const std::filesystem::path& root) {
    DeviceInfo info;
    info.hwModel = readText(root / "sys/class/dmi/id/product_name");
    if (info.hwModel.empty())
        info.hwModel = readText(root / "proc/device-tree/model");
    readCpuInfo(root / "proc/cpuinfo", info);
    return info;
}

const DeviceInfo& DeviceInfo::current() {
    static const DeviceInfo info = read("/");
    return info;
}

} // namespace basalith
