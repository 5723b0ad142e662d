#pragma once

#include "pad/devicetable.h"
#include "pad/models/padmodel.h"
#include "pad/sampleclock.h"
#include "pad/touchinfo.h"
#include "usb/qusb.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <atomic>
#include <mutex>
#include <vector>

class CorvanSign;
class InputDataThread;
class QHidDevice;
class QTimer;

// Pad state shared by the GUI thread, which writes it, and the reader thread.
extern std::atomic<bool> isDeviceOpened;     // the current model's HID interface is open
extern std::atomic<bool> isStartSignOn;      // a signing is under way: the pad is busy
extern std::atomic<QHidDevice *> m_hid_dev;  // created by the first open, deleted by destoryDev
extern std::atomic<CorvanSign *> mCorvanSign; // the one controller, for the reader thread
// Keeps m_hid_dev alive under the reader thread: the reader holds it for each
// of its short reads, and whoever closes or frees m_hid_dev takes it first.
// The GUI thread's own reads (a query's answer, queued input) run only while
// the reader is stopped and take no lock, so it is never held across their
// waits.
extern std::mutex hidReadMutex;

// The pad controller: finds the attached model, opens it, reads its serial,
// starts, restarts and ends a signing on it, and owns the reader thread.
// Every operation runs in the GUI thread and returns 0 or a code of errInfo.
class CorvanSign : public QObject
{
    Q_OBJECT
public:
    // A pad that never answers a query frees the GUI thread after this long.
    static constexpr int kReplyTimeoutMs = 3000;
    // How often queryDeviceInfo looks for the pad's answer.
    static constexpr int kQueryPollMs = 10;

    CorvanSign();
    ~CorvanSign() override;

    int InitDeviceStatus();
    int OpenDevice();
    void closeHidDev();
    void destoryDev();
    void closeInputThread();
    int GetDeviceInfo(tagDEVICE_INFO *info);
    // GetDeviceInfo without holding the GUI thread while the pad answers:
    // deviceInfoQueried follows once, at once when the pad needs no asking
    // (none, several, a T330, a signing under way), else when it answered or
    // kReplyTimeoutMs passed. Called while a query runs, it joins that one.
    // Another operation on the pad takes the query over: a GetDeviceInfo
    // answers it with its own result, a start with the busy code, a removal
    // with "no device".
    void queryDeviceInfo();
    int StartSign();
    int ExitSign();
    int reSign();
    QString GetErrorMessage(int code);
    int write(QByteArray *data);

    // Fills `out` from the first 8 bytes of a pen report, by the current
    // model's layout (the T330's for a model without one).
    void RawToPen(tagTAVREL_PEN_INPUT_REPORT *out, unsigned char *raw);
    // Reader thread, or the GUI thread while the reader is stopped: emits
    // TouchInfoFun for every sample in `report`, stamped by the sample clock
    // with the time the report was read (now, unless given).
    void paseInputdataToTouchInfo(QByteArray &report);
    void paseInputdataToTouchInfo(QByteArray &report, int64_t readNs);

signals:
    void TouchInfoFun(TOUCH_INFO touchInfo);
    // The answer of queryDeviceInfo: 0 and the pad's row, or an error code.
    void deviceInfoQueried(int code, const tagDEVICE_INFO &info);
    // The reader could not read the pad for a while although it is present;
    // the signing has been ended, with `code` from errInfo.
    void signingFailed(int code);
    void deviceIn(int VID, int PID);
    void deviceOut(int VID, int PID);
    // A supported pad came or went (once per pad, whichever entries of it
    // the USB monitor reports); `model` as in the device table.
    void padPlugged(const QString &model, int vid, int pid);
    void padUnplugged(const QString &model, int vid, int pid);

public slots:
    void onDevInserted(QUsb::Id id);
    void onDevRemoved(QUsb::Id id);

private:
    // Sends one of the current model's commands; 0 or 1003.
    int send(const PadCommand &command);
    // Sends the model's query and reads its answer into `serial`; 0 or 1003.
    int querySerial(const PadModel &model, QString *serial);
    // One report read towards the query's answer, waiting up to `waitMs`.
    enum class ReplyRead { Nothing, PenReport, Answered, Failed };
    ReplyRead readSerialReply(const PadModel &model, int waitMs, QString *serial);
    // The device information of a pad asked or, for the T330, read at once.
    int readDeviceInfo(tagDEVICE_INFO *info);
    // Stores a pad's serial in its row and copies the row to `info`.
    void keepSerial(int row, const QString &serial, tagDEVICE_INFO *info);
    // Ends a query that queryDeviceInfo left running; true when one ran.
    bool takeOverQuery();
    void pollQueryReply();
    void finishQuery(int code, const tagDEVICE_INFO &info);
    // Reads the reports the pad has queued, without waiting: dropped (stale
    // input before a command) or decoded (ink sent before the signing ended).
    // Called only while the reader is stopped.
    enum class QueuedInput { Drop, Decode };
    void readQueuedInput(QueuedInput use);
    void stopReader();
    void onReaderFailed();

    QUsb *m_usb = nullptr;
    InputDataThread *m_inputThread = nullptr;
    // A query whose answer is awaited without holding the GUI thread.
    QTimer *m_queryPoll = nullptr;
    QElapsedTimer m_queryWaited;
    SampleClock m_sampleClock; // the reader's, reset by each start
    // Which models are plugged in, for padPlugged/padUnplugged (GUI thread).
    std::vector<bool> m_modelPresent = std::vector<bool>(MUTI_DEV::kRows, false);
};
