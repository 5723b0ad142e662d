// Large requests handed on and not yet handled are bounded together, the
// total kept across the server's thread, which admits, and the GUI thread,
// which hands them back.
#include "web/connectionlimits.h"

#include <QTest>

#include <thread>

namespace {
QString request(int chars)
{
    return QString(chars, QChar('a'));
}
} // namespace

class TestConnectionLimits : public QObject
{
    Q_OBJECT

private slots:
    void largeRequestsAreAdmittedWhileTheirTotalFits()
    {
        ConnectionLimits limits;
        const QString half = request(int(ConnectionLimits::kMaxLargeInFlightChars / 2));
        const QString more = request(ConnectionLimits::kLargeRequestChars + 1);
        const QString small = request(ConnectionLimits::kLargeRequestChars);
        QVERIFY(limits.admitRequest(half));
        QVERIFY(limits.admitRequest(half)); // exactly the bound
        QVERIFY(!limits.admitRequest(more));
        QVERIFY(limits.admitRequest(small)); // never counted, never refused
        QCOMPARE(limits.largeRequestsInFlightChars(), ConnectionLimits::kMaxLargeInFlightChars);

        limits.requestHandled(half);
        QVERIFY(limits.admitRequest(more));
        limits.requestHandled(half);
        limits.requestHandled(more);
        limits.requestHandled(small);
        QCOMPARE(limits.largeRequestsInFlightChars(), 0);
    }

    // With nothing in flight, one request is taken whatever its size.
    void oneRequestBeyondTheBoundIsStillTaken()
    {
        ConnectionLimits limits;
        const QString huge = request(int(ConnectionLimits::kMaxLargeInFlightChars) + 1);
        QVERIFY(limits.admitRequest(huge));
        QVERIFY(!limits.admitRequest(request(ConnectionLimits::kLargeRequestChars + 1)));
        limits.requestHandled(huge);
        QVERIFY(limits.admitRequest(huge));
    }

    void admittingAndHandlingFromTwoThreadsKeepsTheTotal()
    {
        ConnectionLimits limits;
        const QString large = request(ConnectionLimits::kLargeRequestChars + 1);
        constexpr int kRounds = 20000;
        int refused[2] = {0, 0};
        auto run = [&limits, &large](int *refusedHere) {
            for (int i = 0; i < kRounds; ++i) {
                if (limits.admitRequest(large))
                    limits.requestHandled(large);
                else
                    ++*refusedHere;
            }
        };
        std::thread other(run, &refused[1]);
        run(&refused[0]);
        other.join();
        QCOMPARE(refused[0] + refused[1], 0); // two at a time never reach the bound
        QCOMPARE(limits.largeRequestsInFlightChars(), 0);
    }
};

QTEST_GUILESS_MAIN(TestConnectionLimits)
#include "tst_connectionlimits.moc"
