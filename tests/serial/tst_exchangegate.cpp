// One exchange at a time per window: queued requests, stop, deferred deletion and the poll
// timer's re-arm rule.
#include "serial/bytewaiter.h"
#include "serial/exchangegate.h"
#include "serial/polltimer.h"
#include "support/scriptedcharger.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>

using serialio::ExchangeGate;
using serialio::PollTimer;

class TstExchangeGate : public QObject {
    Q_OBJECT
  private slots:
    // Requests made while an exchange is in progress: "key:name" queues a request,
    // "-key" drops the queued one, "close" closes the gate.
    void queue_data() {
        QTest::addColumn<QStringList>("during");
        QTest::addColumn<QStringList>("ran");
        QTest::newRow("in request order")
            << QStringList{"1:a", "2:b", "3:c"} << QStringList{"first", "a", "b", "c"};
        QTest::newRow("same key: the later replaces the queued one in its place")
            << QStringList{"1:a", "2:b", "1:c"} << QStringList{"first", "c", "b"};
        QTest::newRow("dropped") << QStringList{"1:a", "2:b", "-1"} << QStringList{"first", "b"};
        QTest::newRow("closing drops the queue and refuses more")
            << QStringList{"1:a", "close", "2:b"} << QStringList{"first"};
    }
    void queue() {
        QFETCH(QStringList, during);
        QFETCH(QStringList, ran);
        QObject owner;
        ExchangeGate gate(&owner);
        QStringList order;
        int inside = 0, overlaps = 0;
        const auto job = [&](const QString &name) {
            return [&, name] {
                if (++inside > 1) ++overlaps;
                order << name;
                QTest::qWait(5); // events run here, as inside a wait for a reply
                --inside;
            };
        };
        gate.request(0, [&] {
            ++inside;
            order << QStringLiteral("first");
            for (const QString &op : during) {
                if (op == "close")
                    gate.close();
                else if (op.startsWith('-'))
                    gate.drop(op.mid(1).toInt());
                else
                    gate.request(op.section(':', 0, 0).toInt(), job(op.section(':', 1)));
            }
            QTest::qWait(10); // nothing queued runs while this exchange is in progress
            QCOMPARE(order, QStringList{"first"});
            --inside;
        });
        QTRY_COMPARE(order, ran);
        QTest::qWait(20);
        QCOMPARE(order, ran);
        QVERIFY(!gate.busy());
        QCOMPARE(overlaps, 0);
    }

    // Nested exchanges count as one: busy from the outermost start to its end, and a
    // request waits for the outermost.
    void nesting() {
        QObject owner;
        ExchangeGate gate(&owner);
        QSignalSpy changes(&gate, &ExchangeGate::busyChanged);
        bool ranEarly = false, ran = false;
        {
            ExchangeGate::Exchange outer(gate);
            {
                ExchangeGate::Exchange inner(gate);
                gate.request(1, [&] { ran = true; });
            }
            QTest::qWait(10);
            ranEarly = ran;
            QVERIFY(gate.busy());
        }
        QVERIFY(!ranEarly);
        QTRY_VERIFY(ran);
        QCOMPARE(changes.count(), 4); // true, false for the outer pair, true, false for the request
        QCOMPARE(changes.at(0).at(0).toBool(), true);
        QCOMPARE(changes.at(1).at(0).toBool(), false);
    }

    // A stop or a close ends the exchange at its next wait, long before the wait's bound;
    // after a stop the next request runs whole.
    void stopEndsTheWait_data() {
        QTest::addColumn<bool>("close");
        QTest::newRow("stop") << false;
        QTest::newRow("close") << true;
    }
    void stopEndsTheWait() {
        QFETCH(bool, close);
        ScriptedCharger port;
        port.open(nullptr);
        serialio::ByteWaiter waiter;
        waiter.setPort(&port);
        QObject owner;
        ExchangeGate gate(&owner);
        connect(&gate, &ExchangeGate::wakeRequested, &waiter, &serialio::ByteWaiter::wake);
        int steps = 0;
        const auto exchange = [&] {
            for (int i = 0; i < 3; ++i) {
                waiter.waitUntil([&] { return gate.interrupted(); }, 2000);
                if (gate.interrupted()) return;
                ++steps;
            }
        };
        QTimer::singleShot(20, this, [&] {
            if (close)
                gate.close();
            else
                gate.requestStop();
        });
        QElapsedTimer clock;
        clock.start();
        gate.request(1, exchange);
        QVERIFY(clock.elapsed() < 1000);
        QCOMPARE(steps, 0);

        // The next handler: a stop does not carry over, a close refuses it.
        bool clean = false;
        gate.request(2, [&] { clean = !gate.interrupted(); });
        QCOMPARE(clean, !close);
    }

    // The window is deleted only once no handler is inside a wait.
    void deferredDeletion_data() {
        QTest::addColumn<bool>("busy");
        QTest::newRow("closed during an exchange") << true;
        QTest::newRow("closed while idle") << false;
    }
    void deferredDeletion() {
        QFETCH(bool, busy);
        QPointer<QObject> owner = new QObject;
        auto *gate = new ExchangeGate(owner);
        bool aliveAfterWait = false;
        bool thenRanInside = false;
        bool thenRan = false;
        if (busy) {
            gate->request(1, [&] {
                gate->close([&] { thenRan = true; });
                gate->deleteOwnerWhenIdle();
                QTest::qWait(20); // the wait's event loop runs deferred deletions
                aliveAfterWait = !owner.isNull();
                thenRanInside = thenRan;
            });
            QVERIFY(aliveAfterWait);
            QVERIFY(!thenRanInside);
            QVERIFY(thenRan);
        } else {
            gate->close([&] { thenRan = true; });
            QVERIFY(thenRan); // at once
            gate->deleteOwnerWhenIdle();
        }
        QTRY_VERIFY(owner.isNull());
    }

    // The poll timer is off during any exchange and armed again after it only while the
    // window's "automatic" predicate holds.
    void pollTimerRearm_data() {
        QTest::addColumn<bool>("automatic");
        QTest::addColumn<bool>("closeDuringPoll");
        QTest::addColumn<bool>("armedAfter");
        QTest::newRow("automatic: armed again") << true << false << true;
        QTest::newRow("not automatic: stays off") << false << false << false;
        QTest::newRow("window closing: stays off") << true << true << false;
    }
    void pollTimerRearm() {
        QFETCH(bool, automatic);
        QFETCH(bool, closeDuringPoll);
        QFETCH(bool, armedAfter);
        QObject owner;
        ExchangeGate gate(&owner);
        bool autoFlag = true;
        int polls = 0;
        bool activeInPoll = true, busyInPoll = false;
        PollTimer *timer = nullptr;
        timer = new PollTimer(
            gate, 7, 30, [&] { return autoFlag; },
            [&] {
                ++polls;
                activeInPoll = timer->isActive();
                busyInPoll = gate.busy();
                autoFlag = automatic;
                if (closeDuringPoll) gate.close();
            },
            QStringLiteral("Timer1"), &owner);
        QCOMPARE(timer->timer()->objectName(), QStringLiteral("Timer1"));
        timer->rearm();
        QVERIFY(timer->isActive());
        QTRY_COMPARE(polls, 1);
        QVERIFY(busyInPoll);
        QVERIFY(!activeInPoll);
        QCOMPARE(timer->isActive(), armedAfter);

        // A button's exchange suspends the timer just the same.
        timer->rearm();
        {
            ExchangeGate::Exchange button(gate);
            QVERIFY(!timer->isActive());
        }
        QCOMPARE(timer->isActive(), armedAfter);
    }
};

QTEST_GUILESS_MAIN(TstExchangeGate)
#include "tst_exchangegate.moc"
