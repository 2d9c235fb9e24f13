#include "app/Shell.h"
#include "app/Version.h"
#include "platform/fs/AppFolders.h"

#include <QApplication>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("%s %s\n", velnote::kDisplayName, velnote::kVersion);
        return 0;
    }
    try {
        // Nothing can be recorded or kept without the application's own folders.
        velnote::platform::requiredApplicationSupportDirectory();
        velnote::platform::requiredCachesDirectory();
        velnote::platform::requiredConfigDirectory();
    } catch (const velnote::platform::NoHomeFolderError& e) {
        std::fprintf(stderr, "%s: %s\n", velnote::kDisplayName, e.what());
        return 1;
    }
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Velnote"));
    QApplication::setApplicationDisplayName(QString::fromUtf8(velnote::kDisplayName));
    QApplication::setApplicationVersion(QString::fromUtf8(velnote::kVersion));
    QApplication::setDesktopFileName(QStringLiteral("io.hushtape.velnote"));
    return velnote::runShell(application);
}
