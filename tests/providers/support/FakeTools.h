#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace velnote::testing {

// Fake command-line tools in a folder of their own ("bin", to be named in "additionalPATH").
// Each records what it was given beside the folder: its arguments (NUL-separated), its PATH and,
// when it reads it, its standard input; then it runs the shell body the test wrote.
class FakeTools {
  public:
    explicit FakeTools(std::filesystem::path dir) : dir_(std::move(dir)) {
        std::filesystem::create_directories(bin());
    }

    std::filesystem::path bin() const { return dir_ / "bin"; }

    enum class Input { recorded, ignored };

    void write(const std::string& name, const std::string& body, Input input = Input::recorded) const {
        const auto record = (dir_ / name).string();
        std::ofstream script(bin() / name);
        script << "#!/bin/sh\n"
               << "printf '%s\\0' \"$@\" > '" << record << ".args'\n"
               << "printf '%s' \"$PATH\" > '" << record << ".path'\n";
        if (input == Input::recorded)
            script << "cat > '" << record << ".stdin'\n";
        script << body << "\n";
        script.close();
        std::filesystem::permissions(bin() / name, std::filesystem::perms::owner_all);
    }

    bool ran(const std::string& name) const { return std::filesystem::exists(dir_ / (name + ".args")); }
    std::vector<std::string> args(const std::string& name) const {
        const std::string all = read(name + ".args");
        std::vector<std::string> args;
        std::size_t start = 0;
        for (std::size_t end; (end = all.find('\0', start)) != std::string::npos; start = end + 1)
            args.push_back(all.substr(start, end - start));
        return args;
    }
    std::string input(const std::string& name) const { return read(name + ".stdin"); }
    std::string path(const std::string& name) const { return read(name + ".path"); }

  private:
    std::string read(const std::string& file) const {
        std::ifstream in(dir_ / file, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    std::filesystem::path dir_;
};

} // namespace velnote::testing
