#pragma once

#include <QByteArray>
#include <QMap>
#include <QSslCertificate>
#include <QSslKey>
#include <QTcpServer>
#include <QTemporaryDir>

// A small https server on 127.0.0.1 for pages a browser must see as coming
// from a real site: a self-signed certificate made by openssl for this run,
// and a fixed set of files kept in memory (everything else 404).
class HttpsServer : public QTcpServer
{
    Q_OBJECT

public:
    // Makes the certificate and listens on a free port; false (with
    // lastError()) when either fails.
    bool start();
    void addFile(const QByteArray &path, const QByteArray &type, const QByteArray &body);
    QString lastError() const { return m_error; }

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    struct File
    {
        QByteArray type;
        QByteArray body;
    };
    QTemporaryDir m_dir;
    QSslCertificate m_certificate;
    QSslKey m_key;
    QMap<QByteArray, File> m_files;
    QString m_error;
};
