#include "web/pageevents.h"

#include "pad/CorvanSign.h"
#include "web/WebsocketHandler.h"
#include "web/driverstatus.h"
#include "web/webrequest.h"

#include <QDebug>
#include <QJsonDocument>
#include <QJsonObject>

#include <utility>

namespace {
// Our requests are a few dozen bytes; a longer message (a replayed path) is
// never parsed twice.
const int kMaxOwnRequestChars = 4096;

QString compact(const QJsonObject &object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

// QJsonObject sorts its keys, so "bizcode" always comes before "body".
QJsonObject message(const char *bizcode, const QJsonObject &body)
{
    return QJsonObject{{"bizcode", QLatin1String(bizcode)}, {"body", body}};
}

QString hex4(int id)
{
    return QStringLiteral("%1").arg(id, 4, 16, QLatin1Char('0'));
}

QJsonValue savedFile(const QString &name, qint64 bytes)
{
    if (name.isEmpty())
        return QJsonValue::Null;
    return QJsonObject{{"path", name}, {"size", bytes}};
}
} // namespace

PageEvents::PageEvents(WebsocketHandler *server, CorvanSign *pad, const ListenSettings &settings, QObject *parent)
    : QObject(parent), m_server(server), m_pad(pad), m_settings(settings)
{
    connect(server, &WebsocketHandler::pageMessage, this, &PageEvents::onPageMessage);
    connect(server, &WebsocketHandler::pageClosed, this, &PageEvents::forgetPage);
    connect(pad, &CorvanSign::deviceInfoQueried, this, &PageEvents::onDeviceInfoQueried);
    m_clock.start();
}

void PageEvents::forgetPage(quint64 page)
{
    m_subscribers.remove(page);
    m_statusAllowances.remove(page);
    m_statusesOwed.remove(page);
}

void PageEvents::onPageMessage(quint64 page, const QString &text)
{
    if (page == 0 || text.size() > kMaxOwnRequestChars)
        return;
    const WebRequest request = webrequest::parse(text);
    if (!request.valid)
        return;
    if (request.bizcode == QLatin1String(kSubscribe)) {
        m_subscribers.insert(page);
        sendStatus(page);
    } else if (request.bizcode == QLatin1String(kStatus) && m_subscribers.contains(page)) {
        sendStatus(page);
    } else if (request.bizcode == QLatin1String(kEvidence) && m_subscribers.contains(page)) {
        takeEvidenceRequest(page, text);
    }
}

// Answered to the asking page alone: what will be written, or why not.
void PageEvents::takeEvidenceRequest(quint64 page, const QString &text)
{
    EvidenceRequest evidence;
    QString why;
    if (!evidencerequest::parse(text, &evidence, &why)) {
        const QString refusal = QStringLiteral("pen data request refused: ") + why;
        qWarning().noquote() << refusal;
        m_server->sendMessageTo(page, compact(message(kError, QJsonObject{{"code", QJsonValue::Null},
                                                                          {"text", refusal},
                                                                          {"request", QLatin1String(kEvidence)}})));
        return;
    }
    emit evidenceRequested(evidence);
    m_evidencePage = page;
    m_server->sendMessageTo(page, compact(message(kEvidence, evidence.toJson())));
}

void PageEvents::sendStatus(quint64 page)
{
    if (!ConnectionLimits::takeStatusRequest(&m_statusAllowances[page], m_clock.elapsed()))
        return;
    ++m_statusesOwed[page];
    if (m_padAsked)
        return;
    m_padAsked = true;
    m_pad->queryDeviceInfo();
}

void PageEvents::onDeviceInfoQueried(int code, const tagDEVICE_INFO &info)
{
    m_padAsked = false;
    if (m_statusesOwed.isEmpty())
        return;
    const QString text = compact(message(kStatus, driverStatus(m_pad, code, info, m_settings)));
    const QHash<quint64, int> owed = std::exchange(m_statusesOwed, {});
    for (auto it = owed.cbegin(); it != owed.cend(); ++it)
        for (int i = 0; i < it.value(); ++i)
            m_server->sendMessageTo(it.key(), text);
}

void PageEvents::publish(const QJsonObject &event)
{
    if (m_subscribers.isEmpty())
        return;
    const QString text = compact(event);
    for (quint64 page : qAsConst(m_subscribers))
        m_server->sendMessageTo(page, text);
}

void PageEvents::reportError(int code, const QString &text, const QString &request)
{
    publish(message(kError, QJsonObject{{"code", code ? QJsonValue(code) : QJsonValue(QJsonValue::Null)},
                                        {"text", text},
                                        {"request", request.isEmpty() ? QJsonValue(QJsonValue::Null) : request}}));
}

void PageEvents::commandTaken(int flag, const QString &source)
{
    Q_UNUSED(flag)
    m_commandSources.enqueue(source);
}

void PageEvents::commandDone(int flag, const SavedSignature &saved)
{
    const QString source = m_commandSources.isEmpty() ? QString() : m_commandSources.dequeue();
    QJsonObject body{{"source", source}};
    switch (flag) {
    case 2:
        body.insert("result", "resigned");
        break;
    case 3:
        body.insert("result", "confirmed");
        body.insert("saved", saved.complete());
        body.insert("samples", saved.samples);
        body.insert("picture", savedFile(saved.picture, saved.pictureBytes));
        body.insert("pathFile", savedFile(saved.pathFile, saved.pathFileBytes));
        if (saved.evidenceRequested) {
            QJsonObject evidence;
            for (const SavedSignature::EvidenceFile &file : saved.evidence)
                evidence.insert(file.key, savedFile(file.path, file.bytes));
            body.insert("evidence", evidence);
        }
        break;
    case 4:
        body.insert("result", "cancelled");
        break;
    default:
        return;
    }
    // Before the result, so that a page has the pen data when it hears the signing ended.
    if (flag == 3 && saved.evidenceRequested) {
        sendPenData(m_evidencePage, saved.penData);
        m_evidencePage = 0;
    }
    publish(message(kResult, body));
}

// The pen data goes to the page that asked for it, as written to sign.json.
void PageEvents::sendPenData(quint64 page, const QByteArray &json)
{
    if (json.isEmpty() || !m_subscribers.contains(page))
        return;
    const QByteArray text = "{\"bizcode\":\"" + QByteArray(kPenData) + "\",\"body\":" + json.trimmed() + '}';
    m_server->sendMessageTo(page, QString::fromUtf8(text));
}

void PageEvents::deviceEvent(const char *event, const QString &model, int vid, int pid)
{
    publish(message(kDevice, QJsonObject{{"event", QLatin1String(event)},
                                         {"model", model},
                                         {"vid", hex4(vid)},
                                         {"pid", hex4(pid)}}));
}

void PageEvents::padPlugged(const QString &model, int vid, int pid)
{
    deviceEvent("plugged", model, vid, pid);
}

void PageEvents::padUnplugged(const QString &model, int vid, int pid)
{
    deviceEvent("unplugged", model, vid, pid);
}
