#include "support/browser.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QTest>

Browser::Browser(const QStringList &arguments)
    : m_arguments(arguments)
{
    QObject::connect(&m_page, &QWebSocket::textMessageReceived, [this](const QString &text) {
        const QJsonObject message = QJsonDocument::fromJson(text.toUtf8()).object();
        if (message.contains("id"))
            m_replies.insert(message.value("id").toInt(), message);
    });
}

Browser::~Browser()
{
    m_page.close();
    if (m_chromium.state() != QProcess::NotRunning) {
        m_chromium.terminate();
        if (!m_chromium.waitForFinished(5000)) {
            m_chromium.kill();
            m_chromium.waitForFinished(2000);
        }
    }
}

bool Browser::setPreferences(const QJsonObject &preferences)
{
    QDir().mkpath(m_profile.filePath("Default"));
    QFile file(m_profile.filePath("Default/Preferences"));
    return file.open(QIODevice::WriteOnly) && file.write(QJsonDocument(preferences).toJson()) > 0;
}

bool Browser::open(const QUrl &url, int timeoutMs)
{
    // The flags keep Chromium off the network: this machine has none to offer.
    const QStringList arguments = QStringList{"--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                                              "--no-first-run", "--disable-background-networking",
                                              "--disable-component-update", "--disable-sync",
                                              "--disable-dev-shm-usage", "--window-size=1000,900",
                                              "--user-data-dir=" + m_profile.path(), "--remote-debugging-port=0"}
                                  + m_arguments + QStringList{url.toString()};
    m_chromium.setProcessChannelMode(QProcess::SeparateChannels);
    m_chromium.start("chromium", arguments);
    if (!m_chromium.waitForStarted(10000)) {
        m_error = "chromium did not start: " + m_chromium.errorString();
        return false;
    }

    QString log;
    QRegularExpressionMatch match;
    const QRegularExpression listening("DevTools listening on ws://127\\.0\\.0\\.1:(\\d+)/");
    if (!QTest::qWaitFor(
            [&] {
                log += QString::fromUtf8(m_chromium.readAllStandardError());
                match = listening.match(log);
                return match.hasMatch() || m_chromium.state() == QProcess::NotRunning;
            },
            timeoutMs)
        || !match.hasMatch()) {
        m_error = "chromium never opened its DevTools port:\n" + log;
        return false;
    }

    QNetworkAccessManager http;
    QString pageSocket;
    const bool listed = QTest::qWaitFor(
        [&] {
            QNetworkReply *reply = http.get(QNetworkRequest(QUrl("http://127.0.0.1:" + match.captured(1) + "/json/list")));
            QEventLoop loop;
            QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
            loop.exec();
            for (const QJsonValue &target : QJsonDocument::fromJson(reply->readAll()).array()) {
                if (target.toObject().value("type").toString() == "page")
                    pageSocket = target.toObject().value("webSocketDebuggerUrl").toString();
            }
            reply->deleteLater();
            return !pageSocket.isEmpty();
        },
        timeoutMs);
    if (!listed) {
        m_error = "chromium lists no page";
        return false;
    }
    m_page.open(QUrl(pageSocket));
    if (!QTest::qWaitFor([this] { return m_page.state() == QAbstractSocket::ConnectedState; }, timeoutMs)) {
        m_error = "cannot reach the page's DevTools socket";
        return false;
    }
    return waitFor("document.readyState === 'complete'", timeoutMs);
}

QJsonObject Browser::call(const QString &method, const QJsonObject &params, int timeoutMs)
{
    const int id = m_nextId++;
    const QJsonObject request{{"id", id}, {"method", method}, {"params", params}};
    m_page.sendTextMessage(QString::fromUtf8(QJsonDocument(request).toJson(QJsonDocument::Compact)));
    if (!QTest::qWaitFor([&] { return m_replies.contains(id); }, timeoutMs))
        return QJsonObject{{"error", QJsonObject{{"message", method + " timed out"}}}};
    return m_replies.take(id);
}

QJsonObject Browser::command(const QString &method, const QJsonObject &params, int timeoutMs)
{
    return call(method, params, timeoutMs);
}

QJsonValue Browser::evaluate(const QString &expression, int timeoutMs)
{
    return evaluate(expression, false, timeoutMs);
}

QJsonValue Browser::evaluateAsGesture(const QString &expression, int timeoutMs)
{
    return evaluate(expression, true, timeoutMs);
}

QJsonValue Browser::evaluate(const QString &expression, bool userGesture, int timeoutMs)
{
    const QJsonObject reply = call("Runtime.evaluate",
                                   {{"expression", expression},
                                    {"awaitPromise", true},
                                    {"returnByValue", true},
                                    {"userGesture", userGesture}},
                                   timeoutMs);
    const QJsonObject result = reply.value("result").toObject();
    if (reply.contains("error") || result.contains("exceptionDetails")) {
        m_error = QString::fromUtf8(QJsonDocument(reply).toJson(QJsonDocument::Compact));
        return QJsonValue(QJsonValue::Undefined);
    }
    return result.value("result").toObject().value("value");
}

bool Browser::waitFor(const QString &condition, int timeoutMs)
{
    return QTest::qWaitFor([&] { return evaluate(condition).toBool(); }, timeoutMs);
}

QImage Browser::screenshot()
{
    const QJsonObject reply = call("Page.captureScreenshot", {{"format", "png"}}, 20000);
    const QByteArray png = QByteArray::fromBase64(reply.value("result").toObject().value("data").toString().toLatin1());
    return QImage::fromData(png, "PNG");
}
