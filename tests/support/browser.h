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
    Browser();
    ~Browser();

    bool open(const QUrl &url, int timeoutMs = 30000);
    QString lastError() const { return m_error; }

    // Evaluates `expression` in the page (awaiting a promise) and returns its value.
    QJsonValue evaluate(const QString &expression, int timeoutMs = 10000);
    bool waitFor(const QString &condition, int timeoutMs = 10000);
    QImage screenshot();

private:
    QJsonObject call(const QString &method, const QJsonObject &params, int timeoutMs);

    QTemporaryDir m_profile;
    QProcess m_chromium;
    QWebSocket m_page;
    QString m_error;
    int m_nextId = 1;
    QMap<int, QJsonObject> m_replies;
};
