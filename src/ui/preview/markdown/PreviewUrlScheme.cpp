#include "ui/preview/markdown/PreviewUrlScheme.h"

#include "session/VelnoteLogger.h"
#include "ui/theme/AppTheme.h"

#include <QApplication>
#include <QBuffer>
#include <QFile>
#include <QWebEngineProfile>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>
#include <QWebEngineUrlSchemeHandler>
#include <cstdlib>
#include <map>
#include <unistd.h>

namespace velnote {
namespace {

constexpr const char* kMermaidResource = ":/velnote/preview/mermaid.min.js";
constexpr const char* kWebChannelResource = ":/qtwebchannel/qwebchannel.js";

std::map<QString, QByteArray>& pages() {
    static std::map<QString, QByteArray> served;
    return served;
}

class Handler final : public QWebEngineUrlSchemeHandler {
  public:
    using QWebEngineUrlSchemeHandler::QWebEngineUrlSchemeHandler;

    void requestStarted(QWebEngineUrlRequestJob* job) override {
        const QString path = job->requestUrl().path();
        if (auto page = pages().find(path); page != pages().end()) {
            reply(job, "text/html", page->second);
        } else if (path == QLatin1String("/mermaid.min.js")) {
            replyWithResource(job, kMermaidResource);
        } else if (path == QLatin1String("/qwebchannel.js")) {
            replyWithResource(job, kWebChannelResource);
        } else {
            job->fail(QWebEngineUrlRequestJob::UrlNotFound);
        }
    }

  private:
    static void reply(QWebEngineUrlRequestJob* job, const QByteArray& type, const QByteArray& body) {
        auto* buffer = new QBuffer(job);
        buffer->setData(body);
        buffer->open(QIODevice::ReadOnly);
        job->reply(type, buffer);
    }

    static void replyWithResource(QWebEngineUrlRequestJob* job, const char* resource) {
        QFile file(QString::fromLatin1(resource));
        if (!file.open(QIODevice::ReadOnly)) {
            VelnoteLogger::app().error("preview resource {} unreadable: {}", resource,
                                       file.errorString().toStdString());
            job->fail(QWebEngineUrlRequestJob::UrlNotFound);
            return;
        }
        reply(job, "text/javascript", file.readAll());
    }
};

void appendChromiumFlag(const char* flag) {
    QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    if (flags.contains(flag))
        return;
    if (!flags.isEmpty())
        flags.append(' ');
    flags.append(flag);
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags);
}

// Runs while the program starts, before main() can make the QApplication.
const bool kRegisteredAtStart = [] {
    PreviewUrlScheme::registerScheme();
    return true;
}();

} // namespace

void PreviewUrlScheme::registerScheme() {
    static const bool registered = [] {
        QWebEngineUrlScheme scheme(kName);
        scheme.setSyntax(QWebEngineUrlScheme::Syntax::Host);
        scheme.setFlags(QWebEngineUrlScheme::SecureScheme | QWebEngineUrlScheme::LocalScheme |
                        QWebEngineUrlScheme::LocalAccessAllowed);
        QWebEngineUrlScheme::registerScheme(scheme);
        // Qt WebEngine shares its GL context with the widgets; it must be said before the
        // QApplication exists.
        QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
        // Chromium refuses to start its sandbox as root and would end the process instead.
        if (::geteuid() == 0)
            qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
        return true;
    }();
    (void)registered;
    (void)kRegisteredAtStart;
}

void PreviewUrlScheme::installHandler() {
    static const bool installed = [] {
        // Chromium decides the page appearance once, when it starts: it follows the palette the
        // application has then.
        if (!AppTheme::isLight(QApplication::palette()))
            appendChromiumFlag("--force-dark-mode");
        QWebEngineProfile::defaultProfile()->installUrlSchemeHandler(kName, new Handler(qApp));
        return true;
    }();
    (void)installed;
}

QUrl PreviewUrlScheme::addPage(QByteArray html) {
    static unsigned long long next = 0;
    const QString path = QStringLiteral("/page/%1.html").arg(++next);
    pages()[path] = std::move(html);
    QUrl url;
    url.setScheme(QString::fromLatin1(kName));
    url.setHost(QStringLiteral("local"));
    url.setPath(path);
    return url;
}

void PreviewUrlScheme::removePage(const QUrl& page) {
    pages().erase(page.path());
}

bool PreviewUrlScheme::hasBundledMermaid() {
    return QFile::exists(QString::fromLatin1(kMermaidResource));
}

} // namespace velnote
