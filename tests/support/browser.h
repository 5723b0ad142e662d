#pragma once

#include <QImage>
#include <QJsonObject>
#include <QJsonValue>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>
#include <QWebSocket>

// Headless Chromium (Debian's package) driven over the DevTools protocol:
// open a page, run script in it, take a screenshot.
class Browser
{
public:
    // `arguments` go to Chromium after the flags every test uses.
    explicit Browser(const QStringList &arguments = {});
    ~Browser();

    // The profile's `Default/Preferences`, written before open().
    bool setPreferences(const QJsonObject &preferences);
    bool open(const QUrl &url, int timeoutMs = 30000);
    QString lastError() const { return m_error; }

    // Evaluates `expression` in the page (awaiting a promise) and returns its value.
    QJsonValue evaluate(const QString &expression, int timeoutMs = 10000);
    // The same, as if the person had clicked: it counts as a user gesture.
    QJsonValue evaluateAsGesture(const QString &expression, int timeoutMs = 10000);
    bool waitFor(const QString &condition, int timeoutMs = 10000);
    QImage screenshot();
    // One DevTools command to the page (e.g. "Input.dispatchMouseEvent"); its reply.
    QJsonObject command(const QString &method, const QJsonObject &params, int timeoutMs = 10000);

private:
    QJsonObject call(const QString &method, const QJsonObject &params, int timeoutMs);
    QJsonValue evaluate(const QString &expression, bool userGesture, int timeoutMs);

    QStringList m_arguments;

    QTemporaryDir m_profile;
    QProcess m_chromium;
    QWebSocket m_page;
    QString m_error;
    int m_nextId = 1;
    QMap<int, QJsonObject> m_replies;
};
