#pragma once

#include <QJsonObject>

class CorvanSign;
class ListenSettings;
struct tagDEVICE_INFO;

// The driver's state as a page may ask for it: version, the pad (the answer
// `padCode`, `padInfo` of CorvanSign::queryDeviceInfo; while a signing runs,
// the pad it runs on), whether a signing or a replay runs, the output
// directory, and where and to whom the service listens. GUI thread.
QJsonObject driverStatus(CorvanSign *pad, int padCode, const tagDEVICE_INFO &padInfo, const ListenSettings &settings);
