// The charge-program record: what a record's bytes mean, the parameter text the editor keeps,
// and what goes back into a record.
#include "charger/progrecord.h"

#include <QTest>

using namespace charger::progrecord;

Q_DECLARE_METATYPE(charger::progrecord::ProgramParams)

namespace {
// A record from its name and its 16-byte tail written as text (the flags byte separately).
QByteArray record(const char *name, quint8 flags, const char *digits) {
    return QByteArray(name).leftJustified(16, ' ') + char(flags) + QByteArray(digits);
}
} // namespace

class TstProgRecord : public QObject {
    Q_OBJECT
  private slots:
    // From the bytes of a record to the 21-digit text: every field where the editor keeps
    // it, the minutes as the tens digit followed by 0, a non-digit read as 0.
    void recordToText_data() {
        QTest::addColumn<QByteArray>("record");
        QTest::addColumn<QString>("text");
        QTest::newRow("nimh") << record("NiMH AA 2000", 0, "106200100131090")
                              << "000106200100013001090";
        QTest::newRow("minutes digit 3 shows 30")
            << record("x", 0, "000000000030000") << "000000000000003000000";
        QTest::newRow("flags 0x7F")
            << record("x", 0x7F, "000000000000000") << "127000000000000000000";
        QTest::newRow("flags 0xFF, erased digits")
            << QByteArray(32, char(0xFF)) << "255000000000000000000";
        QTest::newRow("non-digits count as 0")
            << record("x", 2, "2a3150x50919420") << "002203150050091009420";
    }
    void recordToText() {
        QFETCH(QByteArray, record);
        QFETCH(QString, text);
        QCOMPARE(paramText(recordParams(record)), text);
        QCOMPARE(recordParams(record), *parseParamText(text));
    }

    // From fields back to a record and read again: what fits comes back as it was, the
    // minutes keep their tens only.
    void recordRoundTrip_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<ProgramParams>("params");
        QTest::addColumn<int>("minutesBack");
        QTest::newRow("lithium") << "LiPo 3S 1500"
                                 << ProgramParams{4, 2, 3, 150, 150, 1, 50, 1, 410} << 50;
        QTest::newRow("45 minutes read back as 40")
            << "x" << ProgramParams{0, 1, 6, 200, 100, 5, 45, 1, 90} << 40;
        QTest::newRow("widest") << "ABCDEFGHIJKLMNOP"
                                << ProgramParams{255, 9, 99, 999, 999, 9, 99, 9, 999} << 90;
        QTest::newRow("latin-1 name") << QString::fromUtf8("Accu déchargé") << ProgramParams{} << 0;
    }
    void recordRoundTrip() {
        QFETCH(QString, name);
        QFETCH(ProgramParams, params);
        QFETCH(int, minutesBack);
        QVERIFY(!unfitField(name, params));
        const QByteArray r = programRecord(name, params);
        QCOMPARE(r.size(), kRecordBytes);
        QCOMPARE(recordName(r), fitName(name));
        ProgramParams back = params;
        back.minutes = minutesBack;
        QCOMPARE(recordParams(r), back);
        QCOMPARE(*parseParamText(paramText(back)), back);
    }

    // What a record cannot hold is named rather than written as wrong digits.
    void unfitFields_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<ProgramParams>("params");
        QTest::addColumn<int>("field"); // -1: fits
        const ProgramParams ok{0, 1, 6, 200, 100, 1, 30, 1, 90};
        auto with = [ok](int ProgramParams::*f, int v) {
            ProgramParams p = ok;
            p.*f = v;
            return p;
        };
        QTest::newRow("fits") << "name" << ok << -1;
        QTest::newRow("cells 100") << "n" << with(&ProgramParams::cells, 100) << int(Field::Cells);
        QTest::newRow("hours 10") << "n" << with(&ProgramParams::hours, 10) << int(Field::Hours);
        QTest::newRow("cycles 12") << "n" << with(&ProgramParams::cycles, 12) << int(Field::Cycles);
        QTest::newRow("charge 1000")
            << "n" << with(&ProgramParams::chargeCentiAmps, 1000) << int(Field::Charge);
        QTest::newRow("volts negative")
            << "n" << with(&ProgramParams::voltsCenti, -1) << int(Field::Volts);
        QTest::newRow("flags 256") << "n" << with(&ProgramParams::flags, 256) << int(Field::Flags);
        QTest::newRow("name of 17") << QString(17, 'x') << ok << int(Field::Name);
        QTest::newRow("name beyond a byte")
            << QString::fromUtf8("5 € pile") << ok << int(Field::Name);
    }
    void unfitFields() {
        QFETCH(QString, name);
        QFETCH(ProgramParams, params);
        QFETCH(int, field);
        const auto unfit = unfitField(name, params);
        QCOMPARE(unfit ? int(*unfit) : -1, field);
    }
};

QTEST_APPLESS_MAIN(TstProgRecord)
#include "tst_progrecord.moc"
