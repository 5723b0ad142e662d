#pragma once

#include "evidence/evidencerequest.h"
#include "web/connectionlimits.h"
#include "web/listensettings.h"
#include "web/savedsignature.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QQueue>
#include <QSet>

class CorvanSign;
class QJsonObject;
struct tagDEVICE_INFO;
class WebsocketHandler;

// The extended messages a page may opt into: a page that sends "2100" on its
// connection (and only such a page) hears the results of signings, the
// driver's errors and pads coming and going, and may ask for the driver's
// status. Pages that never subscribe see exactly what they saw before.
// Status requests never hold the GUI thread on the pad: the pad is asked
// without waiting for it, one query at a time, and every request made while
// it runs gets its answer. A page's status requests beyond its allowance
// (ConnectionLimits) are ignored.
// Lives in the GUI thread; sends through the server, which may be elsewhere.
class PageEvents : public QObject
{
    Q_OBJECT
public:
    // Requests (page to driver).
    static constexpr const char *kSubscribe = "2100"; // answered with a status
    static constexpr const char *kStatus = "2101";    // request and reply
    static constexpr const char *kEvidence = "2102";  // request and reply: record pen data
    // Events (driver to subscribed pages).
    static constexpr const char *kResult = "2110";
    static constexpr const char *kError = "2111";
    static constexpr const char *kDevice = "2112";
    static constexpr const char *kPenData = "2113"; // sign.json, to the page whose "2102" it answers

    PageEvents(WebsocketHandler *server, CorvanSign *pad, const ListenSettings &settings, QObject *parent = nullptr);

public slots:
    // MainWindow::errorReported.
    void reportError(int code, const QString &text, const QString &request);
    // MainWindow::signingCommand, then the worker's commandDone, in the same
    // order: each command's result names the source it was taken from.
    void commandTaken(int flag, const QString &source);
    void commandDone(int flag, const SavedSignature &saved);
    // CorvanSign::padPlugged / padUnplugged.
    void padPlugged(const QString &model, int vid, int pid);
    void padUnplugged(const QString &model, int vid, int pid);

signals:
    // A subscribed page's valid "2102", already answered to it.
    void evidenceRequested(const EvidenceRequest &request);

private:
    void onPageMessage(quint64 page, const QString &message);
    // Within the page's allowance of status requests; more are ignored.
    void sendStatus(quint64 page);
    void onDeviceInfoQueried(int code, const tagDEVICE_INFO &info);
    void forgetPage(quint64 page);
    void takeEvidenceRequest(quint64 page, const QString &message);
    void sendPenData(quint64 page, const QByteArray &json);
    void publish(const QJsonObject &message);
    void deviceEvent(const char *event, const QString &model, int vid, int pid);

    WebsocketHandler *m_server;
    CorvanSign *m_pad;
    ListenSettings m_settings;
    QSet<quint64> m_subscribers;
    QHash<quint64, ConnectionLimits::StatusAllowance> m_statusAllowances;
    QElapsedTimer m_clock; // for the allowances
    QHash<quint64, int> m_statusesOwed; // pages waiting on the pad's answer, and how many answers
    bool m_padAsked = false;
    QQueue<QString> m_commandSources; // commands taken, their results not yet sent
    quint64 m_evidencePage = 0;       // the page of the last "2102" taken: the one that applies
};
