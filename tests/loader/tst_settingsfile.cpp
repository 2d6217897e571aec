// "sparlo.ini": its exact three lines, reading back, and the files it must not trust.
#include "loader/bootport.h"
#include "loader/cli.h"
#include "loader/settingsfile.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace loader;

class TestSettingsFile : public QObject {
    Q_OBJECT
  private slots:
    void writtenText();
    void read_data();
    void read();
    void roundTrip_data();
    void roundTrip();
    void failedWriteKeepsOldFile();
    void commandLine_data();
    void commandLine();
    void comMap();
};

void TestSettingsFile::writtenText() {
    QCOMPARE(settingsFileText({QStringLiteral("MAIN.HEX"), QStringLiteral("/home/u/fw"), 12}),
             QByteArray("FILE:MAIN.HEX\r\nPATH:/home/u/fw\r\nCOM : 12 \r\n"));
}

void TestSettingsFile::read_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<int>("port");

    QTest::newRow("as written") << QByteArray("FILE:A.HEX\r\nPATH:C:\\fw\r\nCOM : 3 \r\n") << true
                                << "A.HEX"
                                << "C:\\fw" << 3;
    QTest::newRow("port 12 kept") << QByteArray("FILE:A.HEX\r\nPATH:/fw\r\nCOM : 12 \r\n") << true
                                  << "A.HEX"
                                  << "/fw" << 12;
    QTest::newRow("LF endings, no blanks")
        << QByteArray("FILE:A.HEX\nPATH:/fw\nCOM :7") << true << "A.HEX"
        << "/fw" << 7;
    QTest::newRow("comma in the name is kept")
        << QByteArray("FILE:v1,2.hex\r\nPATH:/a,b\r\nCOM : 1 \r\n") << true << "v1,2.hex"
        << "/a,b" << 1;
    QTest::newRow("accents") << QByteArray("FILE:modèle.hex\r\nPATH:/données\r\nCOM : 2 \r\n")
                             << true << "modèle.hex"
                             << "/données" << 2;
    QTest::newRow("empty file") << QByteArray() << false << ""
                                << "" << 1;
    QTest::newRow("two lines") << QByteArray("FILE:A.HEX\r\nPATH:/fw\r\n") << false << ""
                               << "" << 1;
    QTest::newRow("port 0") << QByteArray("FILE:A.HEX\r\nPATH:/fw\r\nCOM : 0 \r\n") << false << ""
                            << "" << 1;
    QTest::newRow("port 13") << QByteArray("FILE:A.HEX\r\nPATH:/fw\r\nCOM : 13 \r\n") << false << ""
                             << "" << 1;
    QTest::newRow("port text") << QByteArray("FILE:A.HEX\r\nPATH:/fw\r\nCOM : abc \r\n") << false
                               << ""
                               << "" << 1;
    QTest::newRow("lines swapped")
        << QByteArray("PATH:/fw\r\nFILE:A.HEX\r\nCOM : 3 \r\n") << false << ""
        << "" << 1;
    QTest::newRow("binary garbage") << QByteArray("\x00\xff\x13garbage\x01", 12) << false << ""
                                    << "" << 1;
}

void TestSettingsFile::read() {
    QFETCH(QByteArray, content);
    QFETCH(bool, valid);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("sparlo.ini"));
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(content);
    f.close();
    const auto s = readSettingsFile(path);
    QCOMPARE(s.has_value(), valid);
    if (valid) {
        QTEST(s->file, "file");
        QTEST(s->folder, "folder");
        QTEST(s->port, "port");
    }
}

void TestSettingsFile::roundTrip_data() {
    QTest::addColumn<int>("port");
    for (int p : {1, 9, 10, 12})
        QTest::addRow("port %d", p) << p;
}

void TestSettingsFile::roundTrip() {
    QFETCH(int, port);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("cfg/sparlo.ini")); // folder created
    const LoaderSettings s{QStringLiteral("fw é.hex"), QStringLiteral("/tmp/x y"), port};
    QVERIFY(writeSettingsFile(path, s));
    QCOMPARE(readSettingsFile(path), std::optional<LoaderSettings>(s));
}

void TestSettingsFile::failedWriteKeepsOldFile() {
    QTemporaryDir dir;
    // A place that cannot hold the file: the failure is reported, nothing is half written.
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("taken.ini")));
    QString why;
    QVERIFY(!writeSettingsFile(dir.filePath(QStringLiteral("taken.ini")),
                               {QStringLiteral("A.HEX"), QStringLiteral("/a"), 1}, &why));
    QVERIFY(!why.isEmpty());

    const QString path = dir.filePath(QStringLiteral("sparlo.ini"));
    QVERIFY(writeSettingsFile(path, {QStringLiteral("OLD.HEX"), QStringLiteral("/old"), 4}));
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner);
    QString error;
    const bool written =
        writeSettingsFile(path, {QStringLiteral("NEW.HEX"), QStringLiteral("/new"), 5}, &error);
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    if (written) QSKIP("running with rights that ignore folder permissions");
    QVERIFY(!error.isEmpty());
    QCOMPARE(readSettingsFile(path)->file, QStringLiteral("OLD.HEX"));
}

void TestSettingsFile::commandLine_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("device");
    QTest::addColumn<int>("com");
    using M = CliOptions::Mode;
    QTest::newRow("nothing: window") << QStringList{} << int(M::Window) << "" << 0;
    QTest::newRow("mapping only: window")
        << QStringList{"--com", "2=/dev/ttyUSB1"} << int(M::Window) << "" << 0;
    QTest::newRow("port and file") << QStringList{"--port", "/dev/ttyS0", "--file", "a.hex"}
                                   << int(M::Upload) << "/dev/ttyS0" << 0;
    QTest::newRow("com and file") << QStringList{"--com", "12", "--file", "a.hex", "--yes"}
                                  << int(M::Upload) << "" << 12;
    QTest::newRow("values after =")
        << QStringList{"--port=/dev/ttyUSB0", "--file=a.hex", "--wait=5"} << int(M::Upload)
        << "/dev/ttyUSB0" << 0;
    QTest::newRow("help") << QStringList{"--file", "a.hex", "--help"} << int(M::Help) << "" << 0;
    QTest::newRow("version") << QStringList{"--version"} << int(M::Version) << "" << 0;
    QTest::newRow("stray argument") << QStringList{"a.hex"} << int(M::Error) << "" << 0;
    QTest::newRow("file without port")
        << QStringList{"--file", "a.hex"} << int(M::Error) << "" << 0;
    QTest::newRow("port and com") << QStringList{"--port", "/dev/x", "--com", "1", "--file", "a"}
                                  << int(M::Error) << "" << 0;
    QTest::newRow("port without file")
        << QStringList{"--port", "/dev/x"} << int(M::Error) << "" << 0;
    QTest::newRow("com 13") << QStringList{"--com", "13", "--file", "a"} << int(M::Error) << ""
                            << 0;
    QTest::newRow("missing value") << QStringList{"--file"} << int(M::Error) << "" << 0;
    QTest::newRow("wait 0") << QStringList{"--port", "p", "--file", "a", "--wait", "0"}
                            << int(M::Error) << "" << 0;
    QTest::newRow("unknown") << QStringList{"--force"} << int(M::Error) << "" << 0;
}

void TestSettingsFile::commandLine() {
    QFETCH(QStringList, args);
    args.prepend(QStringLiteral("sparlo"));
    const CliOptions o = parseCommandLine(args);
    QTEST(int(o.mode), "mode");
    if (o.mode == CliOptions::Mode::Upload) {
        QTEST(o.device, "device");
        QTEST(o.com, "com");
    }
    if (o.mode == CliOptions::Mode::Error) QVERIFY(!o.error.isEmpty());
}

void TestSettingsFile::comMap() {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("ports.ini"));
    {
        ComMap m(kComPorts, file);
        m.setSystemPorts({QStringLiteral("/dev/ttyS0"), QStringLiteral("/dev/ttyUSB0")});
        QCOMPARE(m.device(2), QStringLiteral("/dev/ttyUSB0"));
        QCOMPARE(m.device(3), QString());
        QVERIFY(m.parseAndSet(QStringLiteral("12=/dev/pts/7"), true));
        QVERIFY(m.parseAndSet(QStringLiteral("2=/dev/pts/8"), false));
        QVERIFY(!m.parseAndSet(QStringLiteral("13=/dev/pts/7"), true));
        QVERIFY(!m.parseAndSet(QStringLiteral("1="), true));
        QCOMPARE(m.device(2), QStringLiteral("/dev/pts/8"));
    }
    ComMap again(kComPorts, file);
    again.setSystemPorts({});
    QCOMPARE(again.device(12), QStringLiteral("/dev/pts/7")); // remembered
    QCOMPARE(again.device(2), QString());                     // not remembered
}

QTEST_GUILESS_MAIN(TestSettingsFile)
#include "tst_settingsfile.moc"
