// The dispatcher of pelmora's subcommands, in process with a table of test subcommands: the
// shared options, usage errors, the check that runs before anything is connected, exit codes
// passed through, the demo charger connected through the real handshake, and Ctrl-C turned
// into a wait that ends and exit 130.
#include "cli/dispatcher.h"
#include "diag/exteeprlogic.h"
#include "link/chargerlink.h"
#include "link/exchanges.h"

#include <QCommandLineParser>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "support/hexwriter.h"

#include <csignal>

namespace {

bool g_ran = false;

QList<cli::Command> testTable() {
    static const QCommandLineOption level(QStringLiteral("level"), QString(), QStringLiteral("n"),
                                          QStringLiteral("0"));
    static const QCommandLineOption checkCode(QStringLiteral("check-code"), QString(),
                                              QStringLiteral("n"), QStringLiteral("0"));
    cli::Command probe;
    probe.name = QStringLiteral("probe");
    probe.summary = QStringLiteral("Returns --level.");
    probe.needsCharger = false;
    probe.addOptions = [](QCommandLineParser &p) { p.addOptions({level, checkCode}); };
    probe.check = [](cli::Bench &b, const QCommandLineParser &p) {
        return b.link || !b.ports ? int(cli::Failure) : p.value(checkCode).toInt();
    };
    probe.run = [](cli::Bench &b, const QCommandLineParser &p) {
        g_ran = true;
        b.out << "ran";
        return b.link ? int(cli::Failure) : p.value(level).toInt();
    };

    // Needs the charger: prints the third byte of the link check.
    cli::Command talk;
    talk.name = QStringLiteral("talk");
    talk.run = [](cli::Bench &b, const QCommandLineParser &) {
        g_ran = true;
        const auto status = chlink::linkStatus(chlink::Session(*b.link));
        if (!status) return int(cli::TimedOut);
        b.out << "c=" << int(status->at(2));
        return int(cli::Ok);
    };

    // Waits for Ctrl-C, which arrives while it waits.
    cli::Command wait;
    wait.name = QStringLiteral("wait");
    wait.run = [](cli::Bench &b, const QCommandLineParser &) {
        g_ran = true;
        QTimer::singleShot(100, [] { ::raise(SIGINT); });
        if (!b.link->waitUntil(b.interrupted, 10000)) return int(cli::Ok);
        b.err << "stopped";
        return int(cli::Failure); // the dispatcher says 130 once Ctrl-C was pressed
    };
    return {probe, talk, wait};
}

} // namespace

class TestCliDispatch : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

    void write(const QString &name, const QByteArray &bytes) {
        QFile f(m_dir.filePath(name));
        QVERIFY(f.open(QIODevice::WriteOnly));
        QCOMPARE(f.write(bytes), bytes.size());
    }

  private slots:
    void initTestCase() {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(m_dir.isValid());
        QByteArray esv;
        for (int i = 0; i < 256; ++i)
            esv += ' ' + QByteArray::number(255 - i) + " \r\n";
        write("image.esv", esv);
        write("texts.txt", diag::exteepr::textsFile(diag::exteepr::initialTexts()).bytes);
        write("master.hex", hexText(QByteArray(128, '\x11'), 0x2000));
        write("slave.hex", hexText(QByteArray("\x34\x12\x00\x30", 4), 2 * 40));
    }

    // The real subcommands, in process on the demo charger (the whole of their code under
    // the sanitizers, without a second process).
    void commandsOnTheDemoCharger_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("out");
        using L = QStringList;
        QTest::newRow("status") << L{"status"} << "I2C err : 0, 0, 6";
        QTest::newRow("eeprom save")
            << L{"eeprom", "save", "--controller", "master", "@m.esv"} << "Saved the master EEPROM";
        QTest::newRow("eeprom load") << L{"eeprom", "load", "--controller", "slave", "@image.esv"}
                                     << "Wrote addresses 0 to 191 of the slave EEPROM";
        QTest::newRow("ext-eeprom save")
            << L{"ext-eeprom", "save", "--memory", "2", "@p.txt"} << "Saved EEprom2";
        QTest::newRow("ext-eeprom load")
            << L{"ext-eeprom", "load", "--memory", "1", "@texts.txt"} << "Wrote EEprom1";
        QTest::newRow("flash master")
            << L{"flash", "master", "--yes", "@master.hex"} << "Master flash written";
        QTest::newRow("flash slave")
            << L{"flash", "slave", "--yes", "@slave.hex"} << "Slave flash written";
    }

    void commandsOnTheDemoCharger() {
        QFETCH(QStringList, args);
        QFETCH(QString, out);
        for (QString &a : args)
            if (a.startsWith('@')) a = m_dir.filePath(a.mid(1));
        QString outText, errText;
        int code = -1;
        {
            QTextStream o(&outText), e(&errText);
            code = cli::runCommandLine(QStringList{"pelmora"} + args + QStringList{"--demo"}, o, e);
        }
        QVERIFY2(code == 0, qPrintable(errText));
        QVERIFY2(outText.contains(out), qPrintable(outText));
    }

    void dispatch_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::addColumn<bool>("ran");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("err");
        using L = QStringList;
        QTest::newRow("runs") << L{"probe"} << 0 << true << "ran"
                              << "";
        QTest::newRow("its code is the exit code")
            << L{"probe", "--level", "4"} << 4 << true << "ran"
            << "";
        QTest::newRow("a failed check stops it")
            << L{"probe", "--check-code", "5"} << 5 << false << ""
            << "";
        QTest::newRow("help") << L{"probe", "--help"} << 0 << false
                              << "Usage: pelmora probe [options]"
                              << "";
        QTest::newRow("help lists the shared options")
            << L{"probe", "-h"} << 0 << false << "--port <DEVICE>"
            << "";
        QTest::newRow("unknown option") << L{"probe", "--bogus"} << 2 << false << ""
                                        << "Try 'pelmora probe --help'";
        QTest::newRow("unknown subcommand") << L{"nosuch"} << 2 << false << ""
                                            << "unknown subcommand 'nosuch'";
        QTest::newRow("demo speed") << L{"probe", "--demo-speed", "0"} << 2 << false << ""
                                    << "--demo-speed";
        QTest::newRow("wait not a number") << L{"probe", "--wait", "x"} << 2 << false << ""
                                           << "--wait";
        QTest::newRow("demo and port")
            << L{"probe", "--demo", "--port", "/dev/x"} << 2 << false << ""
            << "cannot be used together";
        QTest::newRow("empty port") << L{"probe", "--port", ""} << 2 << false << ""
                                    << "--port expects a device";
        QTest::newRow("com out of range") << L{"probe", "--com", "9=/dev/x"} << 2 << false << ""
                                          << "";
        QTest::newRow("demo charger connected") << L{"talk", "--demo"} << 0 << true << "c=6"
                                                << "";
        QTest::newRow("no charger: not run")
            << L{"talk", "--port", "/dev/pelmora-none"} << 3 << false << ""
            << "/dev/pelmora-none: no such device";
        QTest::newRow("no device for COM 1") << L{"talk", "--com", "1="} << 2 << false << ""
                                             << "";
        QTest::newRow("Ctrl-C") << L{"wait", "--demo"} << 130 << true << ""
                                << "stopped";
    }

    void dispatch() {
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QFETCH(bool, ran);
        QFETCH(QString, out);
        QFETCH(QString, err);
        g_ran = false;
        QString outText, errText;
        {
            QTextStream o(&outText), e(&errText);
            const int got = cli::runCommandLine(testTable(), QStringList{"pelmora"} + args, o, e);
            QVERIFY2(got == code, qPrintable(QString("exit %1, err: %2").arg(got).arg(errText)));
        }
        QCOMPARE(g_ran, ran);
        QVERIFY2(outText.contains(out), qPrintable(outText));
        QVERIFY2(errText.contains(err), qPrintable(errText));
        // Ctrl-C handling ends with the subcommand: the default action is back.
        struct sigaction sa {};
        ::sigaction(SIGINT, nullptr, &sa);
        QVERIFY(sa.sa_handler == SIG_DFL);
    }
};

QTEST_GUILESS_MAIN(TestCliDispatch)
#include "tst_clidispatch.moc"
