#pragma once

#include <functional>
#include <memory>

namespace velnote::platform {

enum class SpeechAuthorizationStatus { notDetermined, denied, restricted, authorized };

// The operating system's permission to recognise speech.
class SpeechAuthorizer {
  public:
    virtual ~SpeechAuthorizer() = default;

    virtual SpeechAuthorizationStatus status() const = 0;
    // Asks the user when the status is not determined; `completion` receives the answer, once,
    // on any thread.
    virtual void requestAuthorization(std::function<void(SpeechAuthorizationStatus)> completion) = 0;
};

// Linux has no speech-recognition permission: recognition runs on the device with installed
// models, so it is always authorized and nothing is ever asked.
class SystemSpeechAuthorizer final : public SpeechAuthorizer {
  public:
    SpeechAuthorizationStatus status() const override { return SpeechAuthorizationStatus::authorized; }
    void requestAuthorization(std::function<void(SpeechAuthorizationStatus)> completion) override {
        completion(SpeechAuthorizationStatus::authorized);
    }
};

} // namespace velnote::platform
