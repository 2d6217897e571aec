// The one wait of both links: what ends it, and that it ends on time.
#include "serial/bytewaiter.h"
#include "support/scriptedcharger.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

using serialio::ByteWaiter;
using serialio::WaitResult;

Q_DECLARE_METATYPE(WaitResult)

class TstByteWaiter : public QObject {
    Q_OBJECT
  private slots:
    void waitByte_data() {
        QTest::addColumn<QString>("event");
        QTest::addColumn<WaitResult>("result");
        QTest::addColumn<int>("byte");
        QTest::addColumn<int>("leftPending");
        QTest::newRow("a byte arrives") << "byte" << WaitResult::Byte << 0x63 << 0;
        QTest::newRow("silence") << "" << WaitResult::Timeout << 0 << 0;
        QTest::newRow("the adapter is unplugged") << "vanish" << WaitResult::PortFailed << 0 << 0;
        QTest::newRow("the port is closed") << "close" << WaitResult::NotOpen << 0 << 0;
        QTest::newRow("the program ends") << "stop" << WaitResult::Stopped << 0 << 0;
        QTest::newRow("halt: the byte stays for the next reader")
            << "halt" << WaitResult::Stopped << 0 << 1;
        QTest::newRow("the port is replaced: its byte ends the wait")
            << "replace" << WaitResult::Byte << 0x43 << 0;
    }
    void waitByte() {
        QFETCH(QString, event);
        QFETCH(WaitResult, result);
        QFETCH(int, byte);
        QFETCH(int, leftPending);
        ScriptedCharger first, second;
        first.open(nullptr);
        second.open(nullptr);
        ByteWaiter waiter;
        waiter.setPort(&first);
        QSignalSpy lost(&waiter, &ByteWaiter::portLost);
        bool halt = false;
        QTimer::singleShot(20, this, [&] {
            if (event == "byte") first.deliver("c");
            if (event == "vanish") first.vanish();
            if (event == "close") first.close();
            if (event == "stop") waiter.stop();
            if (event == "halt") {
                halt = true;
                first.deliver("c"); // its readyRead wakes the wait, which sees the halt first
            }
            if (event == "replace") {
                waiter.setPort(&second);
                waiter.wake();
                second.deliver("C", 10);
            }
            if (event == "close") waiter.wake();
        });
        quint8 got = 0;
        QElapsedTimer clock;
        clock.start();
        const int timeoutMs = 300;
        QCOMPARE(waiter.waitByte(timeoutMs, &got, [&] { return halt; }), result);
        QVERIFY(clock.elapsed() < timeoutMs + 200);
        if (result != WaitResult::Timeout) QVERIFY(clock.elapsed() < timeoutMs);
        QCOMPARE(int(got), byte);
        QCOMPARE(int(first.bytesAvailable()), leftPending);
        QCOMPARE(lost.count(), event == "vanish" ? 1 : 0);
        QCOMPARE(waiter.portFailed(), event == "vanish");
    }

    // A sleep between two probes lets the answer wait in the port; only wake() or stop()
    // cut it short.
    void sleep_data() {
        QTest::addColumn<QString>("event");
        QTest::addColumn<bool>("full");
        QTest::newRow("bytes arrive") << "byte" << true;
        QTest::newRow("woken") << "wake" << false;
        QTest::newRow("stopped") << "stop" << false;
    }
    void sleep() {
        QFETCH(QString, event);
        QFETCH(bool, full);
        ScriptedCharger port;
        port.open(nullptr);
        ByteWaiter waiter;
        waiter.setPort(&port);
        QTimer::singleShot(20, this, [&] {
            if (event == "byte") port.deliver("c");
            if (event == "wake") waiter.wake();
            if (event == "stop") waiter.stop();
        });
        QElapsedTimer clock;
        clock.start();
        waiter.sleep(200);
        QCOMPARE(clock.elapsed() >= 190, full);
        QCOMPARE(int(port.bytesAvailable()), event == "byte" ? 1 : 0);
    }
};

QTEST_GUILESS_MAIN(TstByteWaiter)
#include "tst_bytewaiter.moc"
