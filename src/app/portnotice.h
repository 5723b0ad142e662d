#pragma once

#include <QtGlobal>

#include <QString>

// Tells the person at the machine that another program holds the service
// port, and which one when `holder` names it: the error box's look, but not
// modal, so the tray stays usable.
void showPortInUseNotice(quint16 port, const QString &holder);
