#include "support/statusnotifierwatcher.h"

namespace {
const char *const kService = "org.kde.StatusNotifierWatcher";
const char *const kPath = "/StatusNotifierWatcher";
}

bool StatusNotifierWatcher::publish(QDBusConnection bus)
{
    return bus.registerObject(kPath, this, QDBusConnection::ExportAllContents)
           && bus.registerService(kService);
}

void StatusNotifierWatcher::RegisterStatusNotifierItem(const QString &serviceOrPath)
{
    m_items << serviceOrPath;
    emit StatusNotifierItemRegistered(serviceOrPath);
}
