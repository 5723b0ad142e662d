#include "support/messagelog.h"

namespace {
std::mutex mutex;
QList<MessageLog::Entry> collected;
}

MessageLog::MessageLog()
{
    std::lock_guard<std::mutex> lock(mutex);
    collected.clear();
    m_previous = qInstallMessageHandler(&MessageLog::handler);
}

MessageLog::~MessageLog()
{
    qInstallMessageHandler(m_previous);
}

void MessageLog::handler(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    std::lock_guard<std::mutex> lock(mutex);
    collected.append({type, QString::fromLatin1(context.category), text});
}

QList<MessageLog::Entry> MessageLog::entries() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return collected;
}

QStringList MessageLog::texts() const
{
    QStringList texts;
    for (const Entry &entry : entries())
        texts << entry.text;
    return texts;
}

bool MessageLog::contains(QtMsgType type, const QString &text) const
{
    for (const Entry &entry : entries()) {
        if (entry.type == type && entry.text == text)
            return true;
    }
    return false;
}
