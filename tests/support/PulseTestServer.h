#pragma once

#include "support/TempDir.h"

#include <cstdlib>
#include <stdexcept>
#include <string>

namespace velnote::testing {

// A private PulseAudio server for one test (scripts/pulse-test-server): a "mic" null sink (16 kHz
// mono) whose monitor is the default source, and a "speaker" null sink (48 kHz stereo), the
// default output. PULSE_SERVER points at it for the test process and the programs it starts, so
// tests that play sounds or change defaults never meet each other. Stopped by its process id.
class PulseTestServer {
  public:
    PulseTestServer()
        : server_("PULSE_SERVER", "unix:" + (dir_.path() / "pulse" / "native").string()),
          cookie_("PULSE_COOKIE", (dir_.path() / "pulse" / "cookie").string()) {
        start();
    }
    ~PulseTestServer() { stop(); }
    PulseTestServer(const PulseTestServer&) = delete;
    PulseTestServer& operator=(const PulseTestServer&) = delete;

    // Again after stop(): the same address, so clients can find it back.
    // A test process that dies without its destructors (a sanitizer's abort, a timeout) leaves
    // no server behind for long: it quits 20 s after its last client.
    void start() { run(script() + " start " + folder() + " 20 >/dev/null"); }
    void stop() { run(script() + " stop " + folder()); }

    // Runs a shell command line against this server; throws when it fails.
    static void run(const std::string& command) {
        if (std::system(command.c_str()) != 0) {
            throw std::runtime_error("failed: " + command);
        }
    }
    static void pactl(const std::string& arguments) { run("pactl " + arguments + " >/dev/null"); }

  private:
    // From the absolute data folder: a compiler cache may turn __FILE__ into a path relative to
    // the build folder, which ctest's working folder does not resolve.
    static std::string script() {
        return (std::filesystem::path(VELNOTE_TEST_DATA_DIR).parent_path().parent_path() / "scripts" /
                "pulse-test-server")
            .string();
    }
    std::string folder() const { return (dir_.path() / "pulse").string(); }

    TempDir dir_;
    ScopedEnv server_;
    ScopedEnv cookie_;
};

} // namespace velnote::testing
