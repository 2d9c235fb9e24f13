#include "ui/settings/DesktopPermissionProbe.h"

#include "app/shell/NotificationPermission.h"
#include "platform/audio/PulseClient.h"
#include "platform/speech/SpeechAuthorizer.h"

#include <QGuiApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <exception>

namespace velnote {
namespace {

bool soundServerAnswers() {
    try {
        platform::PulseClient client(
            platform::PulseClient::Options{.clientName = "Hushtape", .timeout = std::chrono::seconds(2)});
        client.connect();
        return client.isConnected();
    } catch (const std::exception&) {
        return false;
    }
}

} // namespace

DesktopPermissionProbe::DesktopPermissionProbe(platform::Executor& worker, platform::Executor& main)
    : worker_(worker), main_(main) {}

PermissionFlags DesktopPermissionProbe::readImmediate() {
    // An X display lets a client read other windows' titles and capture the screen; Wayland and
    // the offscreen platform allow neither.
    const bool xDisplay = QGuiApplication::platformName() == QLatin1String("xcb");
    const bool speech =
        platform::SystemSpeechAuthorizer().status() == platform::SpeechAuthorizationStatus::authorized;
    return {.accessibility = xDisplay, .screenRecording = xDisplay, .speechRecognition = speech};
}

void DesktopPermissionProbe::readSlow(std::function<void(bool microphone, bool notifications)> completion) {
    worker_.post([&main = main_, completion = std::move(completion)] {
        const bool microphone = soundServerAnswers();
        const bool notifications = NotificationPermission::isAuthorized();
        main.post([completion, microphone, notifications] { completion(microphone, notifications); });
    });
}

bool launchDetached(const std::string& program, const std::vector<std::string>& arguments) {
    const QString found = QStandardPaths::findExecutable(QString::fromStdString(program));
    if (found.isEmpty()) {
        return false;
    }
    QStringList list;
    for (const std::string& argument : arguments) {
        list << QString::fromStdString(argument);
    }
    return QProcess::startDetached(found, list);
}

} // namespace velnote
