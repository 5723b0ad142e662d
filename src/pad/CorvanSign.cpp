#include "pad/CorvanSign.h"

#include "pad/InputDataThread.h"
#include "pad/utils.h"
#include "usb/qhiddevice.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QTimer>

std::atomic<bool> isDeviceOpened{false};
std::atomic<bool> isStartSignOn{false};
std::atomic<QHidDevice *> m_hid_dev{nullptr};
std::atomic<CorvanSign *> mCorvanSign{nullptr};
std::mutex hidReadMutex;

namespace {
// More reports than any HID queue holds: dropping stale input ends even while
// the pad keeps sending.
constexpr int kMaxQueuedReports = 512;

QByteArray zeroFilled(QByteArray bytes, int size)
{
    if (bytes.size() < size)
        bytes.append(QByteArray(size - bytes.size(), '\0'));
    return bytes;
}

bool isModel(int index)
{
    return index >= 0 && index < MUTI_DEV::kRows;
}

// The model of table row `index`, or null when none is current.
const PadModel *modelAt(int index)
{
    return isModel(index) ? &padModel(index) : nullptr;
}

// The device table's row of a USB device, or -1.
int modelRow(const QUsb::Id &id)
{
    for (int row = 0; row < MUTI_DEV::kRows; ++row)
        if (id.vid == muti_dev.devInfo[row].vid && id.pid == muti_dev.devInfo[row].pid)
            return row;
    return -1;
}
} // namespace

CorvanSign::CorvanSign()
{
    mCorvanSign = this;
    m_usb = new QUsb(nullptr);
    connect(m_usb, &QUsb::deviceInserted, this, &CorvanSign::onDevInserted);
    connect(m_usb, &QUsb::deviceRemoved, this, &CorvanSign::onDevRemoved);
    for (int row = 0; row < MUTI_DEV::kRows; ++row)
        m_modelPresent[row] = m_usb->isPresent(QUsb::Id(muti_dev.devInfo[row].pid, muti_dev.devInfo[row].vid));
}

CorvanSign::~CorvanSign()
{
    qDebug() << "CorvanSign析构====";
    delete m_usb;
    // A signing cannot outlive its controller.
    isStartSignOn = false;
    destoryDev();
    closeInputThread();
    CorvanSign *self = this;
    mCorvanSign.compare_exchange_strong(self, nullptr);
}

int CorvanSign::InitDeviceStatus()
{
    if (isDeviceOpened)
        return 0;

    const QUsb::IdList list = QUsb::devices();
    muti_dev.curIndex = -1;
    int found = 0;
    for (const QUsb::Id &id : list) {
        qDebug().noquote() << QString(id);
        for (int row = 0; row < MUTI_DEV::kRows; ++row) {
            const tagDEVICE_INFO &dev = muti_dev.devInfo[row];
            // The USB entry and the HID entry of one pad count once.
            if (id.pid == dev.pid && id.vid == dev.vid && muti_dev.curIndex != row) {
                muti_dev.curIndex = row;
                ++found;
            }
        }
    }

    if (found == 1) {
        qDebug() << "xxxxx----打开设备类型-------  " << muti_dev.curIndex.load();
        return OpenDevice();
    }
    muti_dev.curIndex = -1;
    if (found > 1) {
        qDebug() << "xxxxx----超出支持设备-------  ";
        return kSeveralDevices;
    }
    qDebug() << "xxxxx----无设备-------  ";
    return kNoDevice;
}

int CorvanSign::OpenDevice()
{
    if (!m_hid_dev)
        m_hid_dev = new QHidDevice(nullptr);
    const int index = muti_dev.curIndex;
    if (!isModel(index))
        return kNoDevice;
    const tagDEVICE_INFO &dev = muti_dev.devInfo[index];
    if (!m_hid_dev.load()->open(dev.vid, dev.pid, nullptr))
        return kNoDevice;
    isDeviceOpened = true;
    return 0;
}

void CorvanSign::closeHidDev()
{
    isDeviceOpened = false;
    std::lock_guard<std::mutex> lock(hidReadMutex);
    if (QHidDevice *dev = m_hid_dev)
        dev->close();
}

void CorvanSign::destoryDev()
{
    isDeviceOpened = false;
    QHidDevice *dev = nullptr;
    {
        std::lock_guard<std::mutex> lock(hidReadMutex);
        dev = m_hid_dev.exchange(nullptr);
        if (dev)
            dev->close();
    }
    delete dev;
}

void CorvanSign::closeInputThread()
{
    if (!m_inputThread)
        return;
    qDebug() << "===closeInputThread==";
    stopReader();
    delete m_inputThread;
    m_inputThread = nullptr;
}

// The reader's reads wait at most a few milliseconds, and its pauses end as
// soon as it is woken, so this returns at once instead of after a read slice.
void CorvanSign::stopReader()
{
    if (!m_inputThread)
        return;
    m_inputThread->stop();
    m_inputThread->wait();
}

void CorvanSign::onReaderFailed()
{
    if (!isStartSignOn)
        return;
    qWarning() << "the pad could not be read; the signing ends";
    ExitSign();
    emit signingFailed(kReadWriteError);
}

int CorvanSign::GetDeviceInfo(tagDEVICE_INFO *info)
{
    const bool tookOver = takeOverQuery();
    const int code = readDeviceInfo(info);
    if (tookOver)
        emit deviceInfoQueried(code, code == 0 ? *info : tagDEVICE_INFO());
    return code;
}

int CorvanSign::readDeviceInfo(tagDEVICE_INFO *info)
{
    if (isStartSignOn)
        return kDeviceBusy;
    const int status = InitDeviceStatus();
    if (status != 0)
        return status;

    const int index = muti_dev.curIndex;
    const PadModel *model = modelAt(index);
    if (!model)
        return kReadWriteError;
    QString serial;
    if (model->serialSource == SerialSource::UsbString) {
        serial = m_hid_dev.load()->serialNumber();
    } else {
        const int queried = querySerial(*model, &serial);
        if (queried != 0)
            return queried;
    }
    keepSerial(index, serial, info);
    return 0;
}

// An empty serial (a pad without one) is answered like any other.
void CorvanSign::keepSerial(int row, const QString &serial, tagDEVICE_INFO *info)
{
    muti_dev.devInfo[row].serial = serial;
    *info = muti_dev.devInfo[row];
}

void CorvanSign::queryDeviceInfo()
{
    if (m_queryPoll && m_queryPoll->isActive())
        return;
    const PadModel *model = nullptr;
    int status = isStartSignOn ? kDeviceBusy : InitDeviceStatus();
    if (status == 0) {
        model = modelAt(muti_dev.curIndex);
        if (!model)
            status = kReadWriteError;
    }
    if (status == 0 && model->serialSource == SerialSource::UsbString) {
        tagDEVICE_INFO info;
        status = readDeviceInfo(&info);
        emit deviceInfoQueried(status, status == 0 ? info : tagDEVICE_INFO());
        return;
    }
    if (status == 0) {
        readQueuedInput(QueuedInput::Drop);
        status = send(model->query) == 0 ? 0 : kReadWriteError;
    }
    if (status != 0) {
        emit deviceInfoQueried(status, tagDEVICE_INFO());
        return;
    }
    if (!m_queryPoll) {
        m_queryPoll = new QTimer(this);
        m_queryPoll->setInterval(kQueryPollMs);
        connect(m_queryPoll, &QTimer::timeout, this, &CorvanSign::pollQueryReply);
    }
    m_queryWaited.start();
    m_queryPoll->start();
}

bool CorvanSign::takeOverQuery()
{
    if (!m_queryPoll || !m_queryPoll->isActive())
        return false;
    m_queryPoll->stop();
    return true;
}

// Reads what the pad has queued without waiting; the GUI thread is back in
// its event loop between two looks.
void CorvanSign::pollQueryReply()
{
    const int index = muti_dev.curIndex;
    const PadModel *model = modelAt(index);
    if (!model || !m_hid_dev) {
        finishQuery(kNoDevice, tagDEVICE_INFO());
        return;
    }
    QString serial;
    for (int read = 0; read < kMaxQueuedReports; ++read) {
        switch (readSerialReply(*model, 0, &serial)) {
        case ReplyRead::PenReport:
            continue;
        case ReplyRead::Answered: {
            tagDEVICE_INFO info;
            keepSerial(index, serial, &info);
            finishQuery(0, info);
            return;
        }
        case ReplyRead::Failed:
            finishQuery(kReadWriteError, tagDEVICE_INFO());
            return;
        case ReplyRead::Nothing:
            break;
        }
        break;
    }
    if (m_queryWaited.elapsed() >= kReplyTimeoutMs)
        finishQuery(kReadWriteError, tagDEVICE_INFO());
}

void CorvanSign::finishQuery(int code, const tagDEVICE_INFO &info)
{
    m_queryPoll->stop();
    emit deviceInfoQueried(code, info);
}

int CorvanSign::StartSign()
{
    qDebug() << "StartSign ";
    if (isStartSignOn)
        return 0;
    if (takeOverQuery())
        emit deviceInfoQueried(kDeviceBusy, tagDEVICE_INFO());
    const int status = InitDeviceStatus();
    if (status != 0)
        return status;
    const PadModel *model = modelAt(muti_dev.curIndex);
    if (!model)
        return kNoDevice;

    // A reader that gave up on the previous signing has left by now.
    stopReader();
    readQueuedInput(QueuedInput::Drop);
    m_sampleClock.reset();
    // The pad counts as busy only once it took the command: a failed start
    // leaves it free for the next one.
    const int sent = send(model->start);
    if (sent != 0)
        return sent;
    isStartSignOn = true;
    if (!m_inputThread) {
        m_inputThread = new InputDataThread(nullptr);
        connect(m_inputThread, &InputDataThread::readFailed, this, &CorvanSign::onReaderFailed);
    }
    m_inputThread->start(QThread::InheritPriority);
    return 0;
}

int CorvanSign::ExitSign()
{
    if (!isStartSignOn)
        return 0;
    isStartSignOn = false;
    // Once the reader has left, no stray read can take a reply meant for the
    // next query.
    stopReader();
    // Ink the pad sent before the end is the signer's, however far the
    // reader lagged behind.
    readQueuedInput(QueuedInput::Decode);
    const int status = InitDeviceStatus();
    if (status != 0)
        return status;
    const PadModel *model = modelAt(muti_dev.curIndex);
    if (!model)
        return 0;

    const int sent = send(model->end);
    if (sent != 0)
        return sent;
    switch (model->afterEnd) {
    case AfterEnd::KeepOpen:
        break;
    case AfterEnd::CloseDevice:
        closeHidDev();
        break;
    case AfterEnd::CloseDeviceAndReader:
        closeHidDev();
        closeInputThread();
        break;
    }
    return 0;
}

int CorvanSign::reSign()
{
    if (!isStartSignOn)
        return kInvalidCommand;
    const int status = InitDeviceStatus();
    if (status != 0)
        return status;
    const PadModel *model = modelAt(muti_dev.curIndex);
    return model ? send(model->signAgain) : kReadWriteError;
}

QString CorvanSign::GetErrorMessage(int code)
{
    for (const tagERR_INFO &row : errInfo) {
        if (row.code == code)
            return QString::fromUtf8(row.message);
    }
    return QString();
}

int CorvanSign::write(QByteArray *data)
{
    QHidDevice *dev = m_hid_dev;
    if (!dev)
        return kNoDevice;
    return dev->write(data, data->size()) < 0 ? kReadWriteError : 0;
}

int CorvanSign::send(const PadCommand &command)
{
    switch (command.transport) {
    case Transport::None:
        return 0;
    case Transport::Unsupported:
        return kReadWriteError;
    case Transport::FeatureReport: {
        const QByteArray report = zeroFilled(utils::HexStringToByteArray(command.payload), command.reportBytes);
        if (m_hid_dev.load()->sendFeatureReport(&report, report.size()) < 0)
            return kReadWriteError;
        break;
    }
    case Transport::FramedJson: {
        const QString hex = QString::fromLatin1(QByteArray(command.payload).toHex());
        QByteArray report = zeroFilled(utils::PackKz7Comm(hex), command.reportBytes);
        if (write(&report) != 0)
            return kReadWriteError;
        break;
    }
    }
    if (command.dropFeatureReplyBytes > 0) {
        QByteArray ignored(command.dropFeatureReplyBytes, '\0');
        m_hid_dev.load()->getFeatureReport(&ignored, ignored.size());
    }
    return 0;
}

// Pen reports the pad still had queued are passed over; a pad that never
// answers frees the GUI thread after kReplyTimeoutMs. No signing runs during a
// query, so the reader is stopped: this thread alone reads the pad, and it
// alone closes or frees it.
int CorvanSign::querySerial(const PadModel &model, QString *serial)
{
    readQueuedInput(QueuedInput::Drop);
    if (send(model.query) != 0)
        return kReadWriteError;
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        const qint64 left = kReplyTimeoutMs - waited.elapsed();
        if (left <= 0)
            return kReadWriteError;
        switch (readSerialReply(model, int(left), serial)) {
        case ReplyRead::Nothing:
        case ReplyRead::PenReport:
            continue;
        case ReplyRead::Answered:
            return 0;
        case ReplyRead::Failed:
            return kReadWriteError;
        }
    }
}

CorvanSign::ReplyRead CorvanSign::readSerialReply(const PadModel &model, int waitMs, QString *serial)
{
    QByteArray report;
    const int read = m_hid_dev.load()->read(&report, model.replyBytes, waitMs);
    if (read < 0)
        return ReplyRead::Failed;
    if (read == 0)
        return ReplyRead::Nothing;
    const SerialReply reply = model.readSerial(report);
    switch (reply.kind) {
    case SerialReply::PenReport:
        return ReplyRead::PenReport;
    case SerialReply::Unreadable:
        return ReplyRead::Failed;
    case SerialReply::Serial:
        *serial = reply.serial;
        return ReplyRead::Answered;
    }
    return ReplyRead::Failed;
}

void CorvanSign::readQueuedInput(QueuedInput use)
{
    QHidDevice *dev = m_hid_dev;
    if (!dev)
        return;
    QByteArray report;
    int read = 0;
    while (read < kMaxQueuedReports && dev->read(&report, InputDataThread::kReportBytes, 0) > 0) {
        ++read;
        if (use == QueuedInput::Decode)
            paseInputdataToTouchInfo(report);
    }
    if (read > 0 && use == QueuedInput::Drop)
        qDebug() << "dropped" << read << "input reports the pad sent earlier";
}

void CorvanSign::RawToPen(tagTAVREL_PEN_INPUT_REPORT *out, unsigned char *raw)
{
    const PadModel *model = modelAt(muti_dev.curIndex);
    if (!model || !model->rawToPen)
        model = &padModel(0); // the T330's layout
    *out = model->rawToPen(raw);
}

void CorvanSign::paseInputdataToTouchInfo(QByteArray &report)
{
    paseInputdataToTouchInfo(report, monotonicNs());
}

void CorvanSign::paseInputdataToTouchInfo(QByteArray &report, int64_t readNs)
{
    // One look at the current model per report: a removal may clear it meanwhile.
    const PadModel *model = modelAt(muti_dev.curIndex);
    if (!model)
        return;
    QVector<TOUCH_INFO> samples = model->decode(report);
    m_sampleClock.stamp(&samples, readNs);
    for (const TOUCH_INFO &touch : qAsConst(samples))
        emit TouchInfoFun(touch);
}

void CorvanSign::onDevInserted(QUsb::Id id)
{
    const int row = modelRow(id);
    if (row >= 0 && !m_modelPresent[row]) {
        m_modelPresent[row] = true;
        const tagDEVICE_INFO &dev = muti_dev.devInfo[row];
        emit padPlugged(dev.model, dev.vid, dev.pid);
    }
    if (muti_dev.curIndex != -1)
        return;
    qDebug().noquote() << "设备插入===： " << QString::number(id.pid, 16) << QString::number(id.vid, 16);
    emit deviceIn(0, 0);
}

void CorvanSign::onDevRemoved(QUsb::Id id)
{
    const int row = modelRow(id);
    if (row >= 0 && m_modelPresent[row]) {
        m_modelPresent[row] = false;
        const tagDEVICE_INFO &dev = muti_dev.devInfo[row];
        emit padUnplugged(dev.model, dev.vid, dev.pid);
    }
    const int index = muti_dev.curIndex;
    const uint16_t vid = isModel(index) ? muti_dev.devInfo[index].vid : 0xFFFF;
    const uint16_t pid = isModel(index) ? muti_dev.devInfo[index].pid : 0xFFFF;
    // Only the vendor is compared: any device of the pad's maker counts.
    if (id.vid != vid)
        return;
    qDebug() << "设备拔出： " << id.vid;
    if (takeOverQuery())
        emit deviceInfoQueried(kNoDevice, tagDEVICE_INFO());
    muti_dev.curIndex = -1;
    isDeviceOpened = false;
    isStartSignOn = false;
    destoryDev();
    closeInputThread();
    emit deviceOut(vid, pid);
}
