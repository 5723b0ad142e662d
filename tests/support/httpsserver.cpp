#include "support/httpsserver.h"

#include <QFile>
#include <QProcess>
#include <QSslSocket>

bool HttpsServer::start()
{
    if (!QSslSocket::supportsSsl()) {
        m_error = "Qt has no TLS back-end here";
        return false;
    }
    QProcess openssl;
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.start("openssl", {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=127.0.0.1",
                              "-addext", "subjectAltName=IP:127.0.0.1", "-keyout", m_dir.filePath("key.pem"), "-out",
                              m_dir.filePath("cert.pem")});
    if (!openssl.waitForFinished(30000) || openssl.exitStatus() != QProcess::NormalExit || openssl.exitCode() != 0) {
        m_error = "openssl could not make a certificate: " + openssl.errorString() + "\n"
                  + QString::fromLocal8Bit(openssl.readAll());
        return false;
    }
    QFile certificate(m_dir.filePath("cert.pem"));
    QFile key(m_dir.filePath("key.pem"));
    if (!certificate.open(QIODevice::ReadOnly) || !key.open(QIODevice::ReadOnly)) {
        m_error = "cannot read the certificate openssl made";
        return false;
    }
    m_certificate = QSslCertificate(&certificate, QSsl::Pem);
    m_key = QSslKey(&key, QSsl::Rsa, QSsl::Pem);
    if (m_certificate.isNull() || m_key.isNull()) {
        m_error = "the certificate or key openssl made does not parse";
        return false;
    }
    if (!listen(QHostAddress::LocalHost)) {
        m_error = errorString();
        return false;
    }
    return true;
}

void HttpsServer::addFile(const QByteArray &path, const QByteArray &type, const QByteArray &body)
{
    m_files.insert(path, File{type, body});
}

void HttpsServer::incomingConnection(qintptr descriptor)
{
    auto *socket = new QSslSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    socket->setLocalCertificate(m_certificate);
    socket->setPrivateKey(m_key);
    connect(socket, &QSslSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, QOverload<const QList<QSslError> &>::of(&QSslSocket::sslErrors), socket,
            [socket] { socket->abort(); });
    auto request = std::make_shared<QByteArray>();
    connect(socket, &QSslSocket::readyRead, socket, [this, socket, request] {
        request->append(socket->readAll());
        if (!request->contains("\r\n\r\n"))
            return;
        const QList<QByteArray> line = request->left(request->indexOf("\r\n")).split(' ');
        const QByteArray path = line.value(1).split('?').value(0);
        request->clear();
        const auto file = m_files.constFind(path);
        const QByteArray status = file != m_files.constEnd() && line.value(0) == "GET" ? "200 OK" : "404 Not Found";
        const QByteArray body = file != m_files.constEnd() ? file->body : QByteArray("not found\n");
        const QByteArray type = file != m_files.constEnd() ? file->type : QByteArray("text/plain");
        socket->write("HTTP/1.1 " + status + "\r\nContent-Type: " + type + "\r\nContent-Length: "
                      + QByteArray::number(body.size()) + "\r\nCache-Control: no-store\r\n\r\n" + body);
    });
    socket->startServerEncryption();
}
