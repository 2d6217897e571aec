// "pelmora charge" and "pelmora discharge" driven through their run() against the in-process
// virtual charger and the scripted charger: the same log as the window for the same run, the
// outputs off after Ctrl-C and a lost link, and refused settings that send nothing.
#include "bench.h"
#include "cli/runcommands.h"
#include "link/exchanges.h"
#include "modes/chargeur.h"
#include "modes/dechargeur.h"
#include "modes/runinfo.h"

#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QSlider>
#include <QTextStream>
#include <QTimer>
#include <QtTest>

namespace {

struct Outcome {
    int exit = -1;
    QString out, err;
};

// Runs a command with `args` on the bench's link; `interrupted` plays Ctrl-C.
Outcome runCommand(
    Bench &b, const cli::Command &cmd, const QStringList &args,
    std::function<bool()> interrupted = [] { return false; }) {
    Outcome o;
    QTextStream out(&o.out), err(&o.err);
    cli::Bench bench{b.link.get(), QStringLiteral("fake"), out, err, std::move(interrupted)};
    QCommandLineParser p;
    cmd.addOptions(p);
    if (!p.parse(QStringList{QStringLiteral("pelmora"), cmd.name} + args)) {
        o.err = p.errorText();
        return o;
    }
    o.exit = cmd.run(bench, p);
    out.flush();
    err.flush();
    return o;
}

const cli::RunPace kFast{1};

// The battery and the delta amplifier of a run both sides make alike; the charger's clock
// moves `secondsPerPoll` at each clock reading and only then.
sim::VirtualCharger &prepare(Bench &b, bool charge, double secondsPerPoll) {
    sim::VirtualCharger &m = b.useModel();
    sim::BatterySpec spec;
    spec.chemistry = sim::Chemistry::NiMH;
    spec.cells = 6;
    spec.capacityAh = charge ? 2.0 : 0.5;
    spec.stateOfCharge = charge ? 0.8 : 0.15;
    m.setBattery(spec);
    m.setManualClock(true);
    // The charger's own calibration, as the handshake loads it.
    for (int i = 0; i < 16; ++i) {
        b.link->tableA[i] = char(chlink::eeRead(*b.session, 1, quint8(i)).value_or(0));
        b.link->tableB[i] = char(chlink::eeRead(*b.session, 2, quint8(i)).value_or(0));
    }
    chlink::setOutput(*b.session, chlink::CMD_POT_OFFSET, 95);
    chlink::setOutput(*b.session, chlink::CMD_POT_VDELTA, 64);
    b.fake->onCommand = [&m, secondsPerPoll](const QString &cmd) {
        if (cmd == QLatin1String("41")) m.advance(secondsPerPoll);
    };
    return m;
}

QStringList logsIn(const QString &dir) {
    return QDir(dir).entryList({QStringLiteral("*.txt")}, QDir::Files);
}

} // namespace

class TestRunCommands : public QObject {
    Q_OBJECT
  private slots:
    void sameLogAsWindow_data();
    void sameLogAsWindow();
    void ctrlCSwitchesOff_data();
    void ctrlCSwitchesOff();
    void lostLinkExits4();
    void refused_data();
    void refused();
    void sidecarFollowsTheRun();
    void sidecarFailureKeepsTheRun();
};

void TestRunCommands::sameLogAsWindow_data() {
    QTest::addColumn<bool>("charge");
    QTest::newRow("charge ends on the delta voltage") << true;
    QTest::newRow("discharge ends at 0.5 V a cell") << false;
}

void TestRunCommands::sameLogAsWindow() {
    QFETCH(bool, charge);
    const double secondsPerPoll = charge ? 4 : 1;
    QStringList windowLog;
    std::optional<modes::RunInfo> windowInfo;
    QString amps; // the current the window shows, given to the command
    int pot = 0;
    {
        Bench b;
        prepare(b, charge, secondsPerPoll);
        // About 2 A: the first setting that shows its current.
        const int divisor = charger::value(b.link->tableB, charge ? charger::slave::kPotCharge
                                                                  : charger::slave::kPotDischarge);
        QVERIFY(divisor > 0);
        pot = 2 * divisor;
        while (pot > 0 &&
               modes::setpointAmps(pot - 1, divisor) == modes::setpointAmps(pot, divisor))
            --pot;
        QVERIFY(pot <= 255);
        amps = QString::number(*modes::setpointAmps(pot, divisor));
        std::unique_ptr<modes::ModeWindow> w;
        if (charge) {
            w = std::make_unique<modes::Chargeur>(b.host);
        } else {
            w = std::make_unique<modes::Dechargeur>(b.host);
            w->findChild<QLineEdit *>("Text1")->setText("6");
        }
        w->findChild<QSlider *>("Slider1")->setValue(pot);
        w->start();
        for (int polls = 0; w->isPolling() && polls < 5000; ++polls)
            w->timerCycle();
        QVERIFY(!w->isPolling());
        QVERIFY(b.fake->outputsStopped() || charge); // the charge's end leaves ground 0
        w->stop();
        windowLog = Bench::lines(w->logPath());
        windowInfo = modes::readRunInfo(w->logPath());
    }
    QVERIFY(windowLog.size() > 10);

    Bench b;
    prepare(b, charge, secondsPerPoll);
    const Outcome o =
        charge ? runCommand(b, cli::chargeCommand(kFast), {"--current", amps})
               : runCommand(b, cli::dischargeCommand(kFast), {"--current", amps, "--cells", "6"});
    if (qEnvironmentVariableIsSet("PELMORA_E2E_VERBOSE")) qInfo().noquote() << o.out << o.err;
    QCOMPARE(o.exit, int(cli::Ok));
    QVERIFY(o.err.contains(QStringLiteral("(setting %1)").arg(pot)));
    QVERIFY(!b.fake->model()->outputs.charge);
    QVERIFY(!b.fake->model()->outputs.discharge);
    QVERIFY(!b.fake->model()->outputs.power);

    const QStringList logs = logsIn(b.dir.path());
    QCOMPARE(logs.size(), 1);
    const QString path = b.dir.filePath(logs.first());
    // DUREE comes from the charger's clock, so nothing in the log depends on the PC's.
    QCOMPARE(Bench::lines(path), windowLog);

    // One line per poll under the header, then the end.
    const QStringList out = o.out.split('\n', Qt::SkipEmptyParts);
    QCOMPARE(out.size(), windowLog.size() - 2 + 2);
    QVERIFY(out.first().startsWith("elapsed"));
    QVERIFY2(out.last().startsWith(charge ? "end: charge complete" : "end: discharge limit"),
             qPrintable(out.last()));

    const auto info = modes::readRunInfo(path);
    QVERIFY(info && windowInfo);
    QCOMPARE(windowInfo->window, charge ? QString("Chargeur") : QString("Dechargeur"));
    QCOMPARE(info->window, charge ? QString("pelmora charge") : QString("pelmora discharge"));
    QCOMPARE(info->endReason, windowInfo->endReason);
    QCOMPARE(info->endReason, charge ? QString("Charge Terminée") : QString("Limite Dech."));
    QCOMPARE(info->setpoint, windowInfo->setpoint);
    QCOMPARE(info->cells, windowInfo->cells);
    QCOMPARE(info->port, QString("fake"));
    QCOMPARE(windowInfo->port, QString("fake"));
    QVERIFY(info->start.isValid());
}

void TestRunCommands::ctrlCSwitchesOff_data() {
    QTest::addColumn<bool>("charge");
    QTest::addColumn<QString>("at"); // Ctrl-C as this command goes out
    QTest::addColumn<int>("nth");
    QTest::addColumn<QStringList>("after"); // what goes out from there
    QTest::addColumn<int>("records");       // -1: no log was created
    QTest::addColumn<int>("laterMs");       // Ctrl-C comes that long after the command
    const QStringList chargeStop = {"15,0", "17,0", "18,1"};
    const QStringList dischargeStop = {"16,0", "17,0", "18,1"};
    QTest::newRow("charge, as the second poll resumes the charge")
        << true << "15,1" << 3 << chargeStop << 1 << -1;
    QTest::newRow("charge, in the pulse: the discharge path goes off first")
        << true << "16,1" << 2 << (QStringList{"16,0"} + chargeStop) << 1 << -1;
    QTest::newRow("charge, before anything was switched on")
        << true << "41" << 1 << chargeStop << -1 << -1;
    QTest::newRow("discharge, battery read with the discharge off")
        << false << "16,0" << 1 << dischargeStop << 0 << -1;
    QTest::newRow("discharge, as the second poll resumes the discharge")
        << false << "16,1" << 3 << dischargeStop << 1 << -1;
    // The wait between two polls is cut short: no second poll.
    QTest::newRow("charge, in the second between two polls")
        << true << "15,1" << 2 << chargeStop << 1 << 100;
}

void TestRunCommands::ctrlCSwitchesOff() {
    QFETCH(bool, charge);
    QFETCH(QString, at);
    QFETCH(int, nth);
    QFETCH(QStringList, after);
    QFETCH(int, records);
    QFETCH(int, laterMs);
    Bench b;
    b.fake->counts[chlink::CMD_READ_ICHRG] = {150};
    b.fake->counts[chlink::CMD_READ_IDECH] = {150};
    b.fake->counts[chlink::CMD_READ_VBAT] = {800};
    b.fake->counts[chlink::CMD_READ_VDELTA] = {300};
    bool ctrlC = false;
    int seen = 0;
    b.fake->onCommand = [&](const QString &cmd) {
        if (cmd != at || ++seen != nth) return;
        const auto press = [&] {
            ctrlC = true;
            b.link->wake();
            b.fake->take(); // what was sent up to here
        };
        if (laterMs < 0)
            press();
        else
            QTimer::singleShot(laterMs, b.fake, press);
    };
    // Polls a second apart when Ctrl-C comes between two of them.
    const cli::RunPace pace{laterMs < 0 ? 1 : 1000};
    QElapsedTimer took;
    took.start();
    const Outcome o =
        charge
            ? runCommand(b, cli::chargeCommand(pace), {"--current", "1.5"}, [&] { return ctrlC; })
            : runCommand(b, cli::dischargeCommand(pace), {"--current", "2", "--cells", "6"},
                         [&] { return ctrlC; });
    QVERIFY(took.elapsed() < 2000); // woken, not waiting out the second
    QCOMPARE(o.exit, int(cli::Interrupted));
    QVERIFY(o.err.contains("outputs switched off"));
    QCOMPARE(b.fake->take(), after);
    QVERIFY(b.fake->outputsStopped());
    const QStringList logs = logsIn(b.dir.path());
    QCOMPARE(logs.size(), records < 0 ? 0 : 1);
    if (records < 0) return;
    const QString path = b.dir.filePath(logs.first());
    QCOMPARE(Bench::lines(path).size() - 2, records);
    QCOMPARE(modes::readRunInfo(path)->endReason, QString("Arret"));
}

void TestRunCommands::lostLinkExits4() {
    Bench b;
    b.fake->counts[chlink::CMD_READ_VBAT] = {800};
    b.fake->counts[chlink::CMD_READ_VDELTA] = {300};
    int polls = 0;
    b.fake->onCommand = [&](const QString &cmd) {
        if (cmd == QLatin1String("41") && ++polls == 3)
            b.fake->dropReplies[chlink::CMD_READ_VBAT] = 1;
    };
    const Outcome o = runCommand(b, cli::chargeCommand(kFast), {"--current", "1"});
    QCOMPARE(o.exit, int(cli::TimedOut));
    QVERIFY(o.err.contains("stopped answering"));
    // After the reply that did not come: the charge and the discharge paths off.
    const QStringList sent = b.fake->take();
    QCOMPARE(sent.mid(sent.size() - 2), (QStringList{"15,0", "16,0"}));
    const QString path = b.dir.filePath(logsIn(b.dir.path()).first());
    QCOMPARE(Bench::lines(path).size() - 2, 1); // the first poll; the second did not end
    QCOMPARE(modes::readRunInfo(path)->endReason, QString("Liaison perdue"));
}

void TestRunCommands::refused_data() {
    QTest::addColumn<bool>("charge");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("zeroParam"); // 0 none, 1 charge scale, 2 battery voltage scale
    QTest::addColumn<int>("exit");
    const int usage = cli::Usage, refused = cli::Refused;
    QTest::newRow("charge without a current") << true << QStringList{} << 0 << usage;
    QTest::newRow("charge, current not a number")
        << true << QStringList{"--current", "2A"} << 0 << usage;
    QTest::newRow("charge above what the slider sets")
        << true << QStringList{"--current", "2.56"} << 0 << refused;
    QTest::newRow("negative charge current")
        << true << QStringList{"--current", "-0.1"} << 0 << refused;
    QTest::newRow("MODE above 255")
        << true << QStringList{"--current", "1", "--mode", "256"} << 0 << refused;
    QTest::newRow("MODE not a number")
        << true << QStringList{"--current", "1", "--mode", "x"} << 0 << usage;
    QTest::newRow("charge current scale 0")
        << true << QStringList{"--current", "1"} << 1 << refused;
    QTest::newRow("discharge without cells")
        << false << QStringList{"--current", "1"} << 0 << usage;
    QTest::newRow("discharge, 0 cells")
        << false << QStringList{"--current", "1", "--cells", "0"} << 0 << refused;
    QTest::newRow("discharge, cells not a number")
        << false << QStringList{"--current", "1", "--cells", "six"} << 0 << refused;
    QTest::newRow("discharge without battery voltage calibration")
        << false << QStringList{"--current", "1", "--cells", "6"} << 2 << refused;
}

void TestRunCommands::refused() {
    QFETCH(bool, charge);
    QFETCH(QStringList, args);
    QFETCH(int, zeroParam);
    QFETCH(int, exit);
    Bench b;
    if (zeroParam == 1) charger::setValue(b.link->tableB, charger::slave::kPotCharge, 0);
    if (zeroParam == 2) charger::setValue(b.link->tableB, charger::slave::kBatteryDivisor, 0);
    const Outcome o =
        runCommand(b, charge ? cli::chargeCommand(kFast) : cli::dischargeCommand(kFast), args);
    QCOMPARE(o.exit, exit);
    QVERIFY(!o.err.isEmpty());
    QVERIFY(o.out.isEmpty());
    QVERIFY(b.fake->written.isEmpty()); // nothing sent, nothing switched on
    QVERIFY(logsIn(b.dir.path()).isEmpty());
}

// The information file: written as the log is created, its end reason once (the end of a
// charge stays what the Arret after it does not change), a pack name given meanwhile kept.
void TestRunCommands::sidecarFollowsTheRun() {
    Bench b;
    modes::ChargeRun run(b.link->tableA, b.link->tableB);
    run.reset();
    modes::RunInfo info;
    info.window = QStringLiteral("Chargeur");
    info.setpoint = QStringLiteral("1.5 A");
    const QDateTime now(QDate(2026, 12, 7), QTime(9, 5));
    QString why;
    QVERIFY(run.openLog(b.dir.path(), now, info, &why));
    QVERIFY(run.sidecarError().isEmpty());
    auto back = modes::readRunInfo(run.logPath());
    QVERIFY(back);
    QCOMPARE(back->setpoint, QStringLiteral("1.5 A"));
    QVERIFY(back->endReason.isEmpty());

    // The viewer names the pack while the run goes on.
    back->pack = QStringLiteral("Pack A");
    QVERIFY(modes::writeRunInfo(run.logPath(), *back));
    run.finish(QStringLiteral("Charge Terminée"));
    run.finish(QStringLiteral("Arret"));
    back = modes::readRunInfo(run.logPath());
    QCOMPARE(back->endReason, QStringLiteral("Charge Terminée"));
    QCOMPARE(back->pack, QStringLiteral("Pack A"));
    QCOMPARE(back->window, QStringLiteral("Chargeur"));
}

// A sidecar that cannot be written (here a folder in its place) is said and the run goes on
// with its log.
void TestRunCommands::sidecarFailureKeepsTheRun() {
    Bench b;
    b.fake->counts[chlink::CMD_READ_VBAT] = {800};
    b.fake->counts[chlink::CMD_READ_IDECH] = {100};
    modes::DischargeRun run(b.link->tableA, b.link->tableB);
    run.reset();
    run.setCells(6);
    const QDateTime now(QDate(2026, 12, 7), QTime(9, 5));
    const QString log = b.dir.filePath(modes::logFileName(modes::kDischargePrefix, now));
    QVERIFY(QDir().mkpath(modes::runInfoPath(log)));
    QString why;
    QVERIFY(run.openLog(b.dir.path(), now, {}, &why));
    QCOMPARE(run.logPath(), log);
    QVERIFY(!run.sidecarError().isEmpty());
    modes::PollSteps st(*b.session, [] { return false; });
    QVERIFY(st.set(run.startOutputs()));
    const modes::PollOutcome o = run.poll(st);
    QCOMPARE(o.sample.end, modes::PollEnd::Done);
    QVERIFY(!o.logFailed);
    run.finish(QStringLiteral("Arret"));
    QCOMPARE(Bench::lines(log).size(), 3);
}

QTEST_MAIN(TestRunCommands)
#include "tst_runcommands.moc"
