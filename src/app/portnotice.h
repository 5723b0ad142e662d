#pragma once

#include <QtGlobal>

// Tells the person at the machine that another program holds the service
// port: the error box's look, but not modal, so the tray stays usable.
void showPortInUseNotice(quint16 port);
