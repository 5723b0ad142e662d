#include "web/portholder.h"

#include "web/socketowner.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <QStringList>

#include <pwd.h>
#include <unistd.h>

namespace {
QString userName(uid_t uid)
{
    passwd entry = {};
    passwd *found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found)
        return QString::fromLocal8Bit(found->pw_name);
    return QString();
}

// The processes with the socket `inode` among their open descriptors.
QList<qint64> holdersOf(quint64 inode)
{
    const QString link = QStringLiteral("socket:[%1]").arg(inode);
    QList<qint64> pids;
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool isPid = false;
        const qint64 pid = entry.toLongLong(&isPid);
        if (!isPid)
            continue;
        const QString fdDir = QStringLiteral("/proc/%1/fd").arg(pid);
        for (const QString &fd : QDir(fdDir).entryList(QDir::System | QDir::NoDotAndDotDot)) {
            if (QFile::symLinkTarget(fdDir + '/' + fd).endsWith(link)) {
                pids << pid;
                break;
            }
        }
    }
    return pids;
}

QString commandOf(qint64 pid)
{
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    return comm.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(comm.readAll()).trimmed() : QString();
}
} // namespace

QString describePortHolder(quint16 port)
{
    QStringList holders;
    QSet<quint64> seen;
    for (const socketowner::Owner &owner : socketowner::listeningOn(port)) {
        if (seen.contains(owner.inode))
            continue;
        seen.insert(owner.inode);
        QString text = QStringLiteral("uid %1").arg(owner.uid);
        const QString name = userName(owner.uid);
        if (!name.isEmpty())
            text += QStringLiteral(" (%1)").arg(name);
        const QList<qint64> pids = holdersOf(owner.inode);
        if (pids.isEmpty())
            text += QStringLiteral(", pid unknown");
        for (const qint64 pid : pids)
            text += QStringLiteral(", pid %1 (%2)").arg(pid).arg(commandOf(pid));
        if (!holders.contains(text))
            holders << text;
    }
    return holders.join(QStringLiteral("; "));
}
