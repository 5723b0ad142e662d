#pragma once

// A WebSocket client that writes frames byte by byte, for what a well-behaved
// client library refuses to send: invalid UTF-8, reserved opcodes, bad masks.

#include <QByteArray>
#include <QList>
#include <QTcpSocket>

class RawWsClient
{
public:
    // Connects to 127.0.0.1 and completes the opening handshake.
    bool open(quint16 port = 36325, int timeoutMs = 5000);
    // The same from a socket that user `uid` owns, as if that user's browser
    // opened it (the test runs as root).
    bool openAsUser(uint uid, quint16 port = 36325, int timeoutMs = 5000);
    // One frame, masked as a client must, with FIN set.
    void sendFrame(int opcode, const QByteArray &payload);
    // The status code of the server's close frame, or -1 when none came.
    int waitForCloseCode(int timeoutMs = 5000);
    bool waitForDisconnect(int timeoutMs = 5000);
    // Every whole text message the server sent so far, continuation frames
    // joined. Reads what the socket holds; call it while waiting.
    QList<QByteArray> textMessages();

    // What came back and is not yet taken: after a refused handshake, the reply.
    QByteArray received() const { return m_received; }

    QTcpSocket socket;

private:
    bool handshake(int timeoutMs);

    QByteArray m_received;
    QList<QByteArray> m_messages;
    QByteArray m_partial;
};
