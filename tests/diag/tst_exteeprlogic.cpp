// The external EEPROM editor's logic: a program's fields as shown and as stored back, what
// a download writes, and the files of both memories.
#include "diag/exteeprlogic.h"
#include "sim/memories.h"

#include <QTest>

using namespace diag::exteepr;

class TstExteeprLogic : public QObject {
    Q_OBJECT
  private slots:
    // Fields typed in the window, stored back as a parameter text, or refused with the
    // field's name when the record cannot hold them.
    void storeBack_data() {
        QTest::addColumn<QString>("edit"); // field=value
        QTest::addColumn<QString>("params");
        QTest::addColumn<QString>("refused");
        const QString base = QStringLiteral("126106200005053001090");
        QTest::newRow("as shown") << "" << base << "";
        QTest::newRow("45 minutes kept as typed") << "duration=05H45"
                                                  << "126106200005054501090"
                                                  << "";
        QTest::newRow("current with a point") << "charge=1.5"
                                              << "126106150005053001090"
                                              << "";
        QTest::newRow("type 7 is 0") << "type=7"
                                     << "126006200005053001090"
                                     << "";
        QTest::newRow("flags bits 0 and 7 dropped") << "flags=255"
                                                    << "126106200005053001090"
                                                    << "";
        QTest::newRow("cells 100") << "cells=100"
                                   << ""
                                   << "Nbr Elem";
        QTest::newRow("hours 12") << "duration=12H00"
                                  << ""
                                  << "Duree";
        QTest::newRow("charge 12,5 A") << "charge=12,5 A"
                                       << ""
                                       << "I Chrg";
        QTest::newRow("charge finer than 10 mA") << "charge=1,505 A"
                                                 << ""
                                                 << "I Chrg";
        QTest::newRow("lithium voltage") << "type=2;volts=10"
                                         << ""
                                         << "Ajus. VMax";
        QTest::newRow("name beyond a byte") << QString::fromUtf8("name=5 € pile") << ""
                                            << "Nom";
    }
    void storeBack() {
        QFETCH(QString, edit);
        QFETCH(QString, params);
        QFETCH(QString, refused);
        FieldTexts f = fieldTexts({QStringLiteral("P"), QStringLiteral("126106200005053001090")});
        for (const QString &e : edit.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            const QString key = e.section(QLatin1Char('='), 0, 0);
            const QString v = e.section(QLatin1Char('='), 1);
            if (key == "flags")
                f.flags = v.toInt();
            else if (key == "type")
                f.type = v;
            else if (key == "cells")
                f.cells = v;
            else if (key == "charge")
                f.charge = v;
            else if (key == "discharge")
                f.discharge = v;
            else if (key == "duration")
                f.duration = v;
            else if (key == "cycles")
                f.cycles = v;
            else if (key == "volts")
                f.volts = v;
            else if (key == "name")
                f.name = v;
        }
        const Stored s = programFromFields(f);
        if (refused.isEmpty()) {
            QVERIFY2(s.program, qPrintable(s.error));
            QCOMPARE(s.program->params, params);
        } else {
            QVERIFY(!s.program);
            QVERIFY2(s.error.startsWith(refused + QStringLiteral(" :")), qPrintable(s.error));
        }
    }

    // A download of the library: the header's three bytes, then 32 bytes a program; the
    // minutes typed as 45 go out as the digit 4, the flags as one raw byte.
    void libraryDownload() {
        Library lib = libraryFromMemory(sim::defaultProgramEeprom());
        lib.header = QStringLiteral("7");
        lib.programs[3] = {QStringLiteral("Edit"), QStringLiteral("126106200005054501090")};
        const LibraryWrites w = libraryWrites(lib);
        QVERIFY(w.error.isEmpty());
        QCOMPARE(w.writes.size(), 3 + 32 * 127);
        QByteArray memory = sim::defaultProgramEeprom();
        for (const Write &x : w.writes)
            memory[x.address] = char(x.value);
        QCOMPARE(memory.left(3), QByteArray("7  "));
        QCOMPARE(memory.mid(96, 32), QByteArray("Edit            ~106200005541090"));
        // Everything else as it was read.
        QByteArray expected = sim::defaultProgramEeprom();
        expected.replace(0, 3, "7  ");
        expected.replace(96, 32, memory.mid(96, 32));
        QCOMPARE(memory, expected);

        lib.programs[9].params = QStringLiteral("000112200005110001090"); // 11 hours
        QVERIFY(libraryWrites(lib).error.startsWith(QStringLiteral("Programme 9 : Duree")));
        QVERIFY(libraryWrites(lib).writes.isEmpty());
    }

    // The text memory: 16 bytes a record, a short text padded with spaces.
    void textDownload() {
        QStringList texts = textsFromMemory(sim::defaultTextEeprom());
        texts[5] = QStringLiteral("Court");
        const QVector<Write> w = textWrites(texts);
        QCOMPARE(w.size(), 4096);
        QByteArray memory(4096, 0);
        for (const Write &x : w)
            memory[x.address] = char(x.value);
        QByteArray expected = sim::defaultTextEeprom();
        expected.replace(80, 16, "Court           ");
        QCOMPARE(memory, expected);
    }

    // A library file is taken whole or not at all.
    void libraryFileChecks_data() {
        QTest::addColumn<int>("line"); // 1-based line to replace, 0: none
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("lines"); // lines kept
        QTest::addColumn<QString>("error");
        QTest::addColumn<QString>("params3"); // program 1's text when taken
        QTest::addColumn<QString>("name2");
        QTest::newRow("short parameter line padded with zeros")
            << 4 << QByteArray("123") << 256 << ""
            << "123000000000000000000"
            << "NiMH AA 2000    ";
        QTest::newRow("long name cut") << 3 << QByteArray("ABCDEFGHIJKLMNOPQRS") << 256 << ""
                                       << "000106200100013001090"
                                       << "ABCDEFGHIJKLMNOP";
        QTest::newRow("LF only") << 0 << QByteArray() << 256 << ""
                                 << "000106200100013001090"
                                 << "NiMH AA 2000    ";
        QTest::newRow("one line short") << 0 << QByteArray() << 255 << "Fichier incomplet : 255"
                                        << ""
                                        << "";
        QTest::newRow("empty file") << 0 << QByteArray() << 0 << "Fichier incomplet : 0"
                                    << ""
                                    << "";
        QTest::newRow("letters in a parameter line")
            << 6 << QByteArray("00010620010001300109x") << 256 << "Ligne 6 :"
            << ""
            << "";
        QTest::newRow("hours that a record cannot hold")
            << 8 << QByteArray("000106200100123001090") << 256 << "Ligne 8 : Duree"
            << ""
            << "";
        QTest::newRow("flags above a byte")
            << 4 << QByteArray("300106200100013001090") << 256 << "Ligne 4 : Mode"
            << ""
            << "";
    }
    void libraryFileChecks() {
        QFETCH(int, line);
        QFETCH(QByteArray, text);
        QFETCH(int, lines);
        QFETCH(QString, error);
        QFETCH(QString, params3);
        QFETCH(QString, name2);
        QList<QByteArray> l = libraryFile(libraryFromMemory(sim::defaultProgramEeprom()))
                                  .bytes.split('\n')
                                  .mid(0, 256);
        for (QByteArray &x : l)
            x.chop(1); // the CR
        if (line) l[line - 1] = text;
        l = l.mid(0, lines);
        const QByteArray sep = QTest::currentDataTag() == QByteArray("LF only") ? "\n" : "\r\n";
        QByteArray bytes;
        for (const QByteArray &x : l)
            bytes += x + sep;
        const FileLoad load = parseLibraryFile(bytes);
        if (error.isEmpty()) {
            QVERIFY2(load.error.isEmpty(), qPrintable(load.error));
            QCOMPARE(load.library.programs[1].params, params3);
            QCOMPARE(load.library.programs[1].name, name2);
        } else {
            QVERIFY2(load.error.startsWith(error), qPrintable(load.error));
        }
    }

    void progress_data() {
        QTest::addColumn<int>("done");
        QTest::addColumn<int>("total");
        QTest::addColumn<int>("elapsed");
        QTest::addColumn<QString>("text");
        QTest::newRow("a quarter")
            << 1024 << 4096 << 10000 << "1024 / 4096 octets, reste environ 30 s";
        QTest::newRow("minutes") << 100 << 4067 << 1500
                                 << "100 / 4067 octets, reste environ 1 min 00 s";
    }
    void progress() {
        QFETCH(int, done);
        QFETCH(int, total);
        QFETCH(int, elapsed);
        QFETCH(QString, text);
        QCOMPARE(progressText(done, total, elapsed), text);
    }
};

QTEST_APPLESS_MAIN(TstExteeprLogic)
#include "tst_exteeprlogic.moc"
