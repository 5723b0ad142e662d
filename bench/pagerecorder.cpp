#include "pagerecorder.h"
#include "eventwait.h"

#include <QJsonDocument>
#include <QJsonObject>

PageRecorder::PageRecorder(const QElapsedTimer &clock, QObject *parent) : QObject(parent), m_clock(clock)
{
    connect(&m_socket, &QWebSocket::textMessageReceived, this, [this](const QString &text) {
        const qint64 now = m_clock.nsecsElapsed();
        const qint64 cpu = driverCpuNs ? driverCpuNs() : -1;
        const QJsonObject message = QJsonDocument::fromJson(text.toUtf8()).object();
        const QString code = message.value("bizcode").toString();
        if (code == "2006")
            pictures.append({now, message.value("bool").toBool(),
                             QByteArray::fromBase64(message.value("body").toObject().value("signbase64").toString().toLatin1()), cpu});
        else if (code == "2040")
            serialRepliesNs.append(now);
    });
    connect(&m_socket, &QWebSocket::disconnected, this, [this] { dropped = true; });
}

bool PageRecorder::open()
{
    m_socket.open(QUrl(QStringLiteral("ws://127.0.0.1:36325")));
    return eventwait::until([this] { return m_socket.state() == QAbstractSocket::ConnectedState; }, 5000);
}

int PageRecorder::drawingPictures() const
{
    return int(std::count_if(pictures.begin(), pictures.end(), [](const Picture &p) { return p.drawing; }));
}

int PageRecorder::blankPictures() const
{
    return pictures.size() - drawingPictures();
}
