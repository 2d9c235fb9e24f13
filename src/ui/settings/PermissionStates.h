#pragma once

#include <functional>
#include <string>
#include <vector>

namespace velnote {

// The five system permissions the preferences window shows, read without asking for anything.
// Linux asks no permission for any of them; each flag says whether what the permission stands
// for is available to this process:
//   accessibility    - an X display, where other windows' titles and focus can be read
//                      (a Wayland session hides them)
//   microphone       - the sound server answers
//   screenRecording  - an X display, which lets any client capture the screen
//   speechRecognition - always: recognition runs on the device with installed models
//   notifications    - a notification service owns its name on the session bus
struct PermissionFlags {
    bool accessibility = false;
    bool microphone = false;
    bool screenRecording = false;
    bool speechRecognition = false;
    bool notifications = false;

    bool operator==(const PermissionFlags&) const = default;
};

enum class PermissionKind { accessibility, microphone, screenRecording, speechRecognition, notifications };

// Reads the states. The display-based ones are immediate; the microphone and notifications
// need a server round trip and arrive through `completion`, on the main thread.
class PermissionProbe {
  public:
    virtual ~PermissionProbe() = default;
    // accessibility, screenRecording and speechRecognition.
    virtual PermissionFlags readImmediate() = 0;
    // microphone and notifications, in the flags given back.
    virtual void readSlow(std::function<void(bool microphone, bool notifications)> completion) = 0;
};

// Opens the desktop's settings for a permission: the first command of its list that starts
// (a page of the desktop's own settings application, then the application itself). There is
// no per-permission privacy page to open on Linux; a desktop without a settings application
// opens nothing.
class SettingsPaneOpener {
  public:
    // Starts `program` with `arguments`, detached; false when it could not be started.
    using Launcher =
        std::function<bool(const std::string& program, const std::vector<std::string>& arguments)>;

    explicit SettingsPaneOpener(Launcher launcher);

    // The candidate commands for `kind`, in the order they are tried.
    static std::vector<std::vector<std::string>> candidates(PermissionKind kind);
    // Tries them in order; true when one started.
    bool open(PermissionKind kind) const;

  private:
    Launcher launcher_;
};

} // namespace velnote
