// The charger's description: the EEPROM maps hold together, the editor's names and the
// block addresses are where the editor and the calibration windows expect them, and the
// status bits are where the state panel reads them.
#include "charger/eeprommap.h"
#include "charger/status.h"

#include <QTest>

using namespace charger;

Q_DECLARE_METATYPE(charger::Controller)
Q_DECLARE_METATYPE(charger::CellBlock)
Q_DECLARE_METATYPE(charger::Status)

class TstChargerData : public QObject {
    Q_OBJECT
  private slots:
    void mapHoldsTogether_data() {
        QTest::addColumn<Controller>("c");
        QTest::newRow("master") << Controller::Master;
        QTest::newRow("slave") << Controller::Slave;
    }
    // Entries in address order, inside the image, never overlapping, never straddling two
    // regions; every byte of the general region named, nothing named above it.
    void mapHoldsTogether() {
        QFETCH(Controller, c);
        int next = 0;
        QVector<int> named;
        for (const Param &p : addressMap(c)) {
            const QString at = QString::number(p.address);
            QVERIFY2(p.controller == c, qPrintable(at));
            QVERIFY2(p.address >= next, qPrintable(at + QStringLiteral(" overlaps")));
            QVERIFY2(p.last() < kImageBytes, qPrintable(at));
            QVERIFY2(regionOf(p.last()) == p.region(),
                     qPrintable(at + QStringLiteral(" straddles")));
            QVERIFY2(p.region() != Region::Identification, qPrintable(at));
            QVERIFY2(p.meaning && *p.meaning, qPrintable(at));
            const bool general = p.region() == Region::General;
            QVERIFY2(general == (p.name != nullptr), qPrintable(at));
            QVERIFY2((p.lowName != nullptr) == (general && p.width == Width::Word), qPrintable(at));
            for (int a = p.address; a <= p.last(); ++a)
                if (general) named << a;
            next = p.last() + 1;
        }
        QCOMPARE(named.size(), kGeneralBytes);
        for (int a = 0; a < kGeneralBytes; ++a)
            QCOMPARE(named.at(a), a);
    }

    void editorNames_data() {
        QTest::addColumn<Controller>("c");
        QTest::addColumn<int>("address");
        QTest::addColumn<QString>("name");
        const Controller m = Controller::Master, s = Controller::Slave;
        QTest::newRow("master 5") << m << 5 << "Temperature arret";
        QTest::newRow("slave 5") << s << 5 << "Correction Pot I Decharge";
        QTest::newRow("master 3, a word's low byte") << m << 3 << "Decallage Temperature L";
        QTest::newRow("master 6") << m << 6 << "Correction tenperature bat H";
        QTest::newRow("master 13") << m << 13 << "NU";
        QTest::newRow("master 15") << m << 15 << "Nombre de choix modes";
        QTest::newRow("slave 7") << s << 7 << "Correction V Batteriet L";
        QTest::newRow("slave 8") << s << 8 << "NU";
        QTest::newRow("master 16: no name above 15") << m << 16 << "";
        QTest::newRow("negative") << m << -1 << "";
    }
    void editorNames() {
        QFETCH(Controller, c);
        QFETCH(int, address);
        QFETCH(QString, name);
        QCOMPARE(editorName(c, address), name);
    }

    void calibrationWordIsHighByteFirst() {
        QByteArray t(257, 0);
        t[4] = char(0x12);
        t[5] = char(0xFE);
        QCOMPARE(charger::word(t, 4), 0x12FE);
        QCOMPARE(charger::word(t, 256), 0); // no byte after the last one
        QCOMPARE(charger::word(t, -1), 0);
    }

    // A word goes high byte first at its address; a byte leaves its neighbours alone.
    void valuesByWidth() {
        QByteArray image(kImageBytes, char(0x5A));
        setValue(image, slave::kBatteryDivisor, 300);
        QCOMPARE(quint8(image.at(6)), quint8(1));
        QCOMPARE(quint8(image.at(7)), quint8(44));
        QCOMPARE(value(image, slave::kBatteryDivisor), 300);
        setValue(image, slave::kPotDischarge, 7);
        QCOMPARE(value(image, slave::kPotDischarge), 7);
        QCOMPARE(quint8(image.at(4)), quint8(0x5A));
    }

    void cellBlocks_data() {
        QTest::addColumn<CellBlock>("kind");
        QTest::addColumn<int>("cells");
        QTest::addColumn<int>("offset");
        QTest::addColumn<int>("address");
        const CellBlock li = CellBlock::Lithium, pb = CellBlock::LeadAcid;
        QTest::newRow("lithium 2 cells, A") << li << 2 << cellblock::kCoefficientA << 44;
        QTest::newRow("lithium 2 cells, B") << li << 2 << cellblock::kOffsetB << 46;
        QTest::newRow("lithium 5 cells, last byte") << li << 5 << cellblock::kOffsetB + 1 << 95;
        QTest::newRow("lead 1 cell, gain") << pb << 1 << cellblock::kGainPot << 97;
        QTest::newRow("lead 6 cells, holding") << pb << 6 << cellblock::point(2) << 142;
    }
    void cellBlocks() {
        QFETCH(CellBlock, kind);
        QFETCH(int, cells);
        QFETCH(int, offset);
        QFETCH(int, address);
        QCOMPARE(cellBlockBase(kind, cells) + offset, address);
        QVERIFY(offset < cellBlockLayout(kind).length);
        QVERIFY(cells <= cellBlockLayout(kind).maxCells);
    }

    void statusBitPlaces_data() {
        QTest::addColumn<Status>("s");
        QTest::addColumn<int>("command");
        QTest::addColumn<int>("bit");
        QTest::addColumn<int>("button"); // push-button number, 0 for an output
        // One status of each reply; the loop below checks that no two share a bit.
        QTest::newRow("LED") << Status::LedOn << 28 << 1 << 0;
        QTest::newRow("SW1") << Status::Sw1Released << 31 << 3 << 1;
        QTest::newRow("SW6") << Status::Sw6Released << 26 << 0 << 6;
    }
    void statusBitPlaces() {
        QFETCH(Status, s);
        QFETCH(int, command);
        QFETCH(int, bit);
        QFETCH(int, button);
        QCOMPARE(statusBit(s).status, s);
        QCOMPARE(int(statusBit(s).command), command);
        QCOMPARE(statusBit(s).bit, bit);
        if (button) QCOMPARE(buttonStatus(button), s);
        const quint8 only = quint8(1u << bit);
        QVERIFY(isSet(s, only));
        QVERIFY(!isSet(s, quint8(~only)));
        QCOMPARE(withStatus(0, s, true), only);
        QCOMPARE(withStatus(0xFF, s, false), quint8(~only));
        // No other status of the same reply shares the bit.
        for (const StatusBit &o : statusBits())
            if (o.status != s && o.command == statusBit(s).command) QVERIFY(o.bit != bit);
    }
};

QTEST_GUILESS_MAIN(TstChargerData)
#include "tst_chargerdata.moc"
