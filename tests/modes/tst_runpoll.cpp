// A run's polls on their own, against the scripted charger: what a poll cut short at each
// step has read and sent, and the discharge path a charge pulse leaves on for "Arret".
#include "bench.h"
#include "modes/runpoll.h"

#include <QtTest>

using namespace modes;

namespace {
// The fields a sample holds, in the order the poll reads them.
QString fields(const RunSample &s) {
    QStringList f;
    if (s.clock) f << "clock";
    if (s.valim) f << "valim";
    if (s.vdbl) f << "vdbl";
    if (s.temp) f << "temp";
    if (s.current) f << "current";
    if (s.vbat) f << "vbat";
    if (s.vdelta) f << "vdelta";
    return f.join(' ');
}
const QString kHead = "clock valim vdbl temp current";
const QStringList kChargeHead = {"41", "6", "7", "5", "10"};
const QStringList kPulse = {"15,0", "17,0", "18,1", "16,1"};
const QStringList kDischargeHead = {"41", "6", "7", "5", "11"};
} // namespace

class TestRunPoll : public QObject {
    Q_OBJECT
  private slots:
    void cutShort_data();
    void cutShort();
};

void TestRunPoll::cutShort_data() {
    QTest::addColumn<bool>("charge");
    QTest::addColumn<int>("drop");       // the code whose next reply does not come; -1 none
    QTest::addColumn<QString>("stopAt"); // Arret comes in the wait for this command's reply
    QTest::addColumn<QStringList>("sent");
    QTest::addColumn<QString>("read");
    QTest::addColumn<int>("end");
    QTest::addColumn<bool>("dischargeOn");
    const int done = int(PollEnd::Done), failed = int(PollEnd::LinkFailed),
              stopped = int(PollEnd::Interrupted);
    const QStringList chargeTail = {"16,0", "13", "12", "18,0", "17,1", "15,1"};
    QTest::newRow("charge, complete") << true << -1 << "" << (kChargeHead + kPulse + chargeTail)
                                      << (kHead + " vbat vdelta") << done << false;
    QTest::newRow("charge, no current reply")
        << true << int(chlink::CMD_READ_ICHRG) << "" << kChargeHead << "clock valim vdbl temp"
        << failed << false;
    QTest::newRow("charge, no answer to the discharge path's on")
        << true << int(chlink::CMD_CUT_DISCHARGE) << "" << (kChargeHead + kPulse) << kHead << failed
        << true;
    QTest::newRow("charge, Arret as the discharge path goes on")
        << true << -1 << "16,1" << (kChargeHead + kPulse) << kHead << stopped << true;
    QTest::newRow("charge, Arret as the discharge path goes off (answered: off)")
        << true << -1 << "16,0" << (kChargeHead + kPulse + QStringList{"16,0"}) << kHead << stopped
        << false;
    QTest::newRow("charge, no delta reply")
        << true << int(chlink::CMD_READ_VDELTA) << ""
        << (kChargeHead + kPulse + QStringList{"16,0", "13", "12"}) << (kHead + " vbat") << failed
        << false;
    const QStringList dischargeTail = {"16,0", "13", "16,1"};
    QTest::newRow("discharge, complete") << false << -1 << "" << (kDischargeHead + dischargeTail)
                                         << (kHead + " vbat") << done << false;
    QTest::newRow("discharge, Arret while the battery is read")
        << false << -1 << "13" << (kDischargeHead + QStringList{"16,0", "13"}) << kHead << stopped
        << false;
    QTest::newRow("discharge, no answer to the discharge path's off")
        << false << int(chlink::CMD_CUT_DISCHARGE) << "" << (kDischargeHead + QStringList{"16,0"})
        << kHead << failed << false;
}

void TestRunPoll::cutShort() {
    QFETCH(bool, charge);
    QFETCH(int, drop);
    QFETCH(QString, stopAt);
    QFETCH(QStringList, sent);
    QFETCH(QString, read);
    QFETCH(int, end);
    QFETCH(bool, dischargeOn);
    Bench b;
    b.fake->counts[chlink::CMD_READ_ICHRG] = {0xFFF6}; // -10: a signed count on the wire
    if (drop >= 0) b.fake->dropReplies[drop] = 1;
    bool stop = false;
    b.fake->onCommand = [&](const QString &cmd) { stop = stop || cmd == stopAt; };
    PollSteps steps(*b.session, [&] { return stop; });
    PulseFlags flags;
    const RunSample s = charge ? chargePoll(steps, 0, flags) : dischargePoll(steps, flags);
    QCOMPARE(b.fake->take(), sent);
    QCOMPARE(fields(s), read);
    QCOMPARE(int(s.end), end);
    QCOMPARE(int(steps.end()), end);
    QCOMPARE(flags.dischargeOn, dischargeOn);
    if (charge && s.current) QCOMPARE(*s.current, -10);
}

QTEST_MAIN(TestRunPoll)
#include "tst_runpoll.moc"
