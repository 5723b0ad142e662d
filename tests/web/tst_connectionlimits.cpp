// Requests held by the driver (arrived, not yet handled) are bounded by the
// request part of the memory budget, the total kept across the server's
// thread, which admits, and the GUI thread, which hands them back.
#include "web/connectionlimits.h"

#include <QTest>

#include <thread>

namespace {
QString request(qint64 chars)
{
    return QString(int(chars), QChar('a'));
}

// A large request whose text takes `bytes` of the budget.
QString largeTaking(qint64 bytes)
{
    return request((bytes - ConnectionLimits::kRequestOverheadBytes) / 2);
}
} // namespace

class TestConnectionLimits : public QObject
{
    Q_OBJECT

private slots:
    void requestsAreAdmittedWhileTheirTotalFits()
    {
        ConnectionLimits limits;
        const QString half = largeTaking(ConnectionLimits::kRequestBudgetBytes / 2);
        QVERIFY(limits.admitRequest(half, false));
        QVERIFY(limits.admitRequest(half, false)); // exactly the budget
        QCOMPARE(limits.requestBytesHeld(), ConnectionLimits::kRequestBudgetBytes);
        QVERIFY(!limits.admitRequest(request(ConnectionLimits::kLargeRequestChars + 1), false));
        limits.requestHandled(half);
        QVERIFY(limits.admitRequest(request(ConnectionLimits::kLargeRequestChars + 1), false));
    }

    // Whatever others hold, a page with nothing waiting gets a small request
    // in (a cancel while another page floods); a page with requests waiting
    // does not.
    void aSmallRequestOfAPageWithNoneWaitingIsAlwaysTaken()
    {
        ConnectionLimits limits;
        const QString all = largeTaking(ConnectionLimits::kRequestBudgetBytes);
        QVERIFY(limits.admitRequest(all, false));
        const QString cancel = QStringLiteral("{\"bizcode\":\"2024\"}");
        QVERIFY(!limits.admitRequest(cancel, true));
        QVERIFY(limits.admitRequest(cancel, false));
        limits.requestHandled(cancel);
        limits.requestHandled(all);
        QCOMPARE(limits.requestBytesHeld(), 0);
    }

    // With no large request held, one is taken whatever its size and
    // whatever small ones hold.
    void oneLargeRequestIsAlwaysTaken()
    {
        ConnectionLimits limits;
        const QString small = request(ConnectionLimits::kLargeRequestChars);
        int smalls = 0;
        for (; limits.requestBytesHeld() < ConnectionLimits::kRequestBudgetBytes; ++smalls)
            QVERIFY(limits.admitRequest(small, false));
        const QString huge = request(qint64(ConnectionLimits::kMaxIncomingMessageBytes));
        QVERIFY(limits.admitRequest(huge, false));
        QVERIFY(!limits.admitRequest(request(ConnectionLimits::kLargeRequestChars + 1), false));
        limits.requestHandled(huge);
        QVERIFY(limits.admitRequest(huge, false));
        limits.requestHandled(huge);
        for (int i = 0; i < smalls; ++i)
            limits.requestHandled(small);
        QCOMPARE(limits.requestBytesHeld(), 0);
    }

    // Bytes still being received count beside the requests held.
    void receivingCountsBesideTheRequestsHeld()
    {
        ConnectionLimits limits;
        QVERIFY(limits.mayKeepReceiving(ConnectionLimits::kRequestBudgetBytes));
        const QString held = largeTaking(ConnectionLimits::kRequestBudgetBytes / 2);
        QVERIFY(limits.admitRequest(held, false));
        QVERIFY(limits.mayKeepReceiving(ConnectionLimits::kRequestBudgetBytes / 2));
        QVERIFY(!limits.mayKeepReceiving(ConnectionLimits::kRequestBudgetBytes / 2 + 1));
    }

    void admittingAndHandlingFromTwoThreadsKeepsTheTotal()
    {
        ConnectionLimits limits;
        const QString large = request(ConnectionLimits::kLargeRequestChars + 1);
        constexpr int kRounds = 20000;
        int refused[2] = {0, 0};
        auto run = [&limits, &large](int *refusedHere) {
            for (int i = 0; i < kRounds; ++i) {
                if (limits.admitRequest(large, false))
                    limits.requestHandled(large);
                else
                    ++*refusedHere;
            }
        };
        std::thread other(run, &refused[1]);
        run(&refused[0]);
        other.join();
        QCOMPARE(refused[0] + refused[1], 0); // two at a time never reach the budget
        QCOMPARE(limits.requestBytesHeld(), 0);
    }

    // Times are passed in, so the allowance is checked without waiting.
    void statusRequestsComeInABurstThenAtTheSteadyRate()
    {
        ConnectionLimits::StatusAllowance allowance;
        const qint64 start = 1000000;
        for (int i = 0; i < ConnectionLimits::kStatusBurst; ++i)
            QVERIFY(ConnectionLimits::takeStatusRequest(&allowance, start));
        QVERIFY(!ConnectionLimits::takeStatusRequest(&allowance, start));
        const qint64 interval = 1000 / ConnectionLimits::kStatusPerSecond;
        QVERIFY(!ConnectionLimits::takeStatusRequest(&allowance, start + interval - 1));
        QVERIFY(ConnectionLimits::takeStatusRequest(&allowance, start + interval));
        QVERIFY(!ConnectionLimits::takeStatusRequest(&allowance, start + interval));

        // A minute of asking as fast as possible gets the steady rate.
        int taken = 0;
        for (qint64 t = start + interval; t < start + interval + 60000; ++t)
            taken += ConnectionLimits::takeStatusRequest(&allowance, t) ? 1 : 0;
        QVERIFY2(qAbs(taken - 60 * ConnectionLimits::kStatusPerSecond) <= 1, qPrintable(QString::number(taken)));

        // A long quiet earns no more than a burst.
        const qint64 later = start + 3600000;
        for (int i = 0; i < ConnectionLimits::kStatusBurst; ++i)
            QVERIFY(ConnectionLimits::takeStatusRequest(&allowance, later));
        QVERIFY(!ConnectionLimits::takeStatusRequest(&allowance, later));
    }
};

QTEST_GUILESS_MAIN(TestConnectionLimits)
#include "tst_connectionlimits.moc"
