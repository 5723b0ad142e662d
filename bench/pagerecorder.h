#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QVector>
#include <QWebSocket>

#include <functional>

// A page that reads everything and notes when each message arrived, on the
// bench's clock.
class PageRecorder : public QObject
{
    Q_OBJECT
public:
    struct Picture
    {
        qint64 arrivedNs;
        bool drawing;
        QByteArray png;
        qint64 driverCpuNs; // the driver's CPU time when it arrived, or -1
    };

    PageRecorder(const QElapsedTimer &clock, QObject *parent = nullptr);
    bool open();
    void send(const QString &text) { m_socket.sendTextMessage(text); }

    // Read as each picture arrives, when set: the driver's CPU time so far.
    std::function<qint64()> driverCpuNs;

    QVector<Picture> pictures;
    QVector<qint64> serialRepliesNs;
    bool dropped = false;
    int drawingPictures() const;
    int blankPictures() const;

private:
    const QElapsedTimer &m_clock;
    QWebSocket m_socket;
};
