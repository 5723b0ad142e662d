#pragma once

#include <QJsonObject>

class CorvanSign;
class ListenSettings;

// The driver's state as a page may ask for it: version, the pad (queried
// like a serial request when no signing runs), whether a signing or a replay
// runs, the output directory, and where and to whom the service listens.
// GUI thread: it may wait for the pad's answer.
QJsonObject driverStatus(CorvanSign *pad, const ListenSettings &settings);
