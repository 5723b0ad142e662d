#include "support/rawwsclient.h"

#include <QTest>

#include <utility>

#include <netinet/in.h>
#include <sys/fsuid.h>
#include <sys/socket.h>
#include <unistd.h>

bool RawWsClient::open(quint16 port, int timeoutMs)
{
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    return handshake(timeoutMs);
}

bool RawWsClient::openAsUser(uint uid, quint16 port, int timeoutMs)
{
    // A socket belongs to the file-system uid that created it.
    const uint before = uint(::setfsuid(uid));
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ::setfsuid(before);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
        || !socket.setSocketDescriptor(fd)) {
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    return handshake(timeoutMs);
}

bool RawWsClient::handshake(int timeoutMs)
{
    socket.write("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                 "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n");
    socket.flush();
    const bool answered = QTest::qWaitFor(
        [this] {
            m_received += socket.readAll();
            return m_received.contains("\r\n\r\n") || socket.state() != QAbstractSocket::ConnectedState;
        },
        timeoutMs);
    const int end = m_received.indexOf("\r\n\r\n");
    if (!answered || end < 0 || !m_received.startsWith("HTTP/1.1 101"))
        return false;
    m_received.remove(0, end + 4);
    return true;
}

void RawWsClient::sendFrame(int opcode, const QByteArray &payload)
{
    QByteArray frame;
    frame.append(char(0x80 | (opcode & 0x0F)));
    const quint64 size = quint64(payload.size());
    if (size < 126) {
        frame.append(char(0x80 | size));
    } else if (size < 65536) {
        frame.append(char(0x80 | 126));
        frame.append(char(size >> 8)).append(char(size & 0xFF));
    } else {
        frame.append(char(0x80 | 127));
        for (int shift = 56; shift >= 0; shift -= 8)
            frame.append(char((size >> shift) & 0xFF));
    }
    const char mask[4] = {0x12, 0x34, 0x56, 0x78};
    frame.append(mask, 4);
    for (int i = 0; i < payload.size(); ++i)
        frame.append(char(payload[i] ^ mask[i % 4]));
    socket.write(frame);
    socket.flush();
}

int RawWsClient::waitForCloseCode(int timeoutMs)
{
    int code = -1;
    (void)QTest::qWaitFor(
        [&] {
            m_received += socket.readAll();
            // Skips whole frames until a close frame (opcode 8) with its code.
            while (m_received.size() >= 2) {
                const int length = uchar(m_received[1]) & 0x7F;
                if (length >= 126 || m_received.size() < 2 + length)
                    break;
                if ((uchar(m_received[0]) & 0x0F) == 0x8 && length >= 2) {
                    code = uchar(m_received[2]) << 8 | uchar(m_received[3]);
                    return true;
                }
                m_received.remove(0, 2 + length);
            }
            return socket.state() == QAbstractSocket::UnconnectedState;
        },
        timeoutMs);
    return code;
}

bool RawWsClient::waitForDisconnect(int timeoutMs)
{
    return QTest::qWaitFor(
        [this] {
            socket.readAll();
            return socket.state() == QAbstractSocket::UnconnectedState;
        },
        timeoutMs);
}

QList<QByteArray> RawWsClient::textMessages()
{
    m_received += socket.readAll();
    for (;;) {
        if (m_received.size() < 2)
            break;
        // A server's frames are unmasked.
        quint64 length = uchar(m_received[1]) & 0x7F;
        int header = 2;
        if (length == 126 || length == 127) {
            const int bytes = length == 126 ? 2 : 8;
            if (m_received.size() < 2 + bytes)
                break;
            length = 0;
            for (int i = 0; i < bytes; ++i)
                length = length << 8 | uchar(m_received[2 + i]);
            header += bytes;
        }
        if (quint64(m_received.size()) < header + length)
            break;
        const int opcode = uchar(m_received[0]) & 0x0F;
        const bool last = uchar(m_received[0]) & 0x80;
        if (opcode == 0x1 || opcode == 0x0) {
            m_partial += m_received.mid(header, int(length));
            if (last)
                m_messages.append(std::exchange(m_partial, QByteArray()));
        }
        m_received.remove(0, header + int(length));
    }
    return m_messages;
}
