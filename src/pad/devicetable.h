#pragma once

// The supported pad models and the status codes of the pad controller.

#include <QString>

#include <atomic>
#include <cstdint>
#include <vector>

struct PadModel;

// One row of the supported-device table, and the copy of it that callers get.
struct tagDEVICE_INFO
{
    QString manufacturer;
    QString model;
    QString version;
    int32_t minX = 0;
    int32_t minY = 0;
    int32_t maxX = -1;
    int32_t maxY = -1;
    uint32_t pressureLevels = 0;
    int32_t devType = 0; // equals the row index: 0 T330, 1 QZ07, 2 KZ07
    uint16_t vid = 0;
    uint16_t pid = 0;
    QString serial;
};

struct MUTI_DEV
{
    // One row per supported model (pad/models/), in the order of devicetable.cpp.
    static const int kRows;
    // The attached model's row, or -1. Atomic: the reader thread's decoder
    // reads it while a removal in the GUI thread clears it.
    std::atomic<int32_t> curIndex{-1};
    // kRows rows, fixed but for `serial`, which the GUI thread alone overwrites.
    std::vector<tagDEVICE_INFO> devInfo;
};

// The one table of the process. The serials start as a placeholder and take
// each pad's own once it has been queried.
extern MUTI_DEV muti_dev;

// The model behind table row `row`, 0 <= row < MUTI_DEV::kRows.
const PadModel &padModel(int row);

struct tagERR_INFO
{
    int32_t code;
    const char *message; // UTF-8
};

constexpr int kErrInfoRows = 8;
extern const tagERR_INFO errInfo[kErrInfoRows];

// Status codes of the pad controller's operations (0 is success).
enum PadStatus : int {
    kNoDevice = 1001,
    kUnsupportedDevice = 1000,
    kSeveralDevices = 1002,
    kReadWriteError = 1003,
    kOpenFailed = 1004,
    kNotOpen = 1005,
    kDeviceBusy = 1006,
    kInvalidCommand = 1007,
};
