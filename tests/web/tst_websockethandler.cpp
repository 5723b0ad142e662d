#include "support/wsclient.h"
#include "web/WebsocketHandler.h"

#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>
#include <QWebSocket>

#include <memory>
#include <thread>

class TestWebsocketHandler : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<WebsocketHandler> handler;
    std::unique_ptr<WsClient> first, second;

    void connectTwo()
    {
        QVERIFY(first->open(handler->serverPort()));
        QVERIFY(second->open(handler->serverPort()));
        QTRY_COMPARE(handler->clientCount(), 2);
    }

private slots:
    void init()
    {
        handler.reset(new WebsocketHandler(0));
        QVERIFY(handler->isListening());
        first.reset(new WsClient);
        second.reset(new WsClient);
    }

    void cleanup()
    {
        first.reset();
        second.reset();
        handler.reset();
    }

    void textFromEitherPageReachesTheSignalAndRepliesReachBoth()
    {
        connectTwo();
        QSignalSpy received(handler.get(), &WebsocketHandler::OnProcessMessage);
        first->send("from first");
        second->send("from second");
        QTRY_COMPARE(received.count(), 2);
        QStringList texts{received.at(0).at(0).toString(), received.at(1).at(0).toString()};
        texts.sort();
        QCOMPARE(texts, QStringList({"from first", "from second"}));

        handler->sendMessage("reply");
        QVERIFY(first->waitForMessages(1));
        QVERIFY(second->waitForMessages(1));
        QCOMPARE(first->messages, QStringList{"reply"});
        QCOMPARE(second->messages, QStringList{"reply"});
    }

    void messagesFromAnotherThreadArriveInOrder()
    {
        connectTwo();
        const int count = 300;
        std::thread sender([this] {
            for (int i = 0; i < count; ++i)
                handler->sendMessage(QString::number(i));
        });
        sender.join();
        QVERIFY(first->waitForMessages(count));
        for (int i = 0; i < count; ++i)
            QCOMPARE(first->messages.at(i), QString::number(i));
        QVERIFY(second->waitForMessages(count));
        QCOMPARE(second->messages, first->messages);
    }

    void aPageThatLeavesIsForgottenAndDeleted()
    {
        connectTwo();
        first->socket.close();
        QTRY_COMPARE(handler->clientCount(), 1);
        QTRY_COMPARE(handler->findChildren<QWebSocket *>().size(), 1);
        handler->sendMessage("after");
        QVERIFY(second->waitForMessages(1));
        QCOMPARE(first->messages.size(), 0);
    }

    void binaryMessagesAreIgnored()
    {
        connectTwo();
        QSignalSpy received(handler.get(), &WebsocketHandler::OnProcessMessage);
        first->socket.sendBinaryMessage(QByteArray("{\"bizcode\":\"2040\"}"));
        first->send("text");
        QTRY_COMPARE(received.count(), 1);
        QCOMPARE(received.at(0).at(0).toString(), QString("text"));
        QCOMPARE(first->socket.state(), QAbstractSocket::ConnectedState);
    }

    void anOversizeMessageClosesOnlyItsSender()
    {
        connectTwo();
        QSignalSpy received(handler.get(), &WebsocketHandler::OnProcessMessage);
        first->send(QString(int(ConnectionLimits::kMaxIncomingMessageBytes) + 1, QChar('a')));
        QVERIFY(first->waitForDisconnect(20000));
        QCOMPARE(first->closeCode, QWebSocketProtocol::CloseCodeTooMuchData);
        QTRY_COMPARE(handler->clientCount(), 1);

        second->send("still here");
        QTRY_COMPARE(received.count(), 1);
        handler->sendMessage("to the rest");
        QVERIFY(second->waitForMessages(1));
    }

    void aPageThatStopsReadingIsDroppedWithoutDelayingOthers()
    {
        QVERIFY(first->open(handler->serverPort()));
        QTcpSocket stalled;
        stalled.connectToHost("127.0.0.1", handler->serverPort());
        QVERIFY(stalled.waitForConnected(3000));
        // Set once connected (Qt drops it before): the kernel then holds little for it.
        stalled.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4096);
        stalled.setReadBufferSize(1);
        stalled.write("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                      "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n");
        QTRY_COMPARE(handler->clientCount(), 2);

        const int count = 32; // past what kernel buffers and the reply budget hold together
        for (int i = 0; i < count; ++i) {
            // A text of its own each time: one text waiting for several pages is held once.
            handler->sendMessage(QString(1024 * 1024, QChar('a' + i % 26)));
            QVERIFY(first->waitForMessages(i + 1, 10000)); // the reading page keeps up
        }
        QTRY_COMPARE_WITH_TIMEOUT(handler->clientCount(), 1, 20000);
        QTRY_COMPARE(handler->findChildren<QWebSocket *>().size(), 1);
    }

    void shutdownClosesEveryPageNormally()
    {
        connectTwo();
        handler.reset();
        QVERIFY(first->waitForDisconnect());
        QVERIFY(second->waitForDisconnect());
        QCOMPARE(first->closeCode, QWebSocketProtocol::CloseCodeNormal);
        QCOMPARE(second->closeCode, QWebSocketProtocol::CloseCodeNormal);
        QCOMPARE(first->closeReason, QString());
    }

    void aTakenPortLeavesAQuietHandler()
    {
        WebsocketHandler second(handler->serverPort());
        QVERIFY(!second.isListening());
        second.sendMessage("nobody hears this");
    }
};

QTEST_GUILESS_MAIN(TestWebsocketHandler)
#include "tst_websockethandler.moc"
