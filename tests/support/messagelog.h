#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <mutex>

// Collects Qt's messages for as long as it lives, from any thread.
class MessageLog
{
public:
    struct Entry
    {
        QtMsgType type;
        QString category;
        QString text;
    };

    MessageLog();
    ~MessageLog();
    QList<Entry> entries() const;
    QStringList texts() const;
    bool contains(QtMsgType type, const QString &text) const;

private:
    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &text);
    QtMessageHandler m_previous;
};
