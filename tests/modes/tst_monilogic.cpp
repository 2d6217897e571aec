// The monitor stream: records decoded from their bytes, found after their line feed whatever
// the stream started with, written to the log, and reduced to one chart point per ten.
#include "modes/monilogic.h"

#include <QRandomGenerator>
#include <QtTest>

using namespace modes::moni;

namespace {
// A record's 29 bytes: the fields given, every other byte 0 (byte 7 '=').
QByteArray recordBytes(const QList<QPair<int, int>> &bytes) {
    QByteArray r(kRecordBytes, 0);
    r[0] = 'C';
    r[6] = '=';
    for (const auto &[index, value] : bytes)
        r[index - 1] = char(value);
    return r;
}
QByteArray withType(int vbat, int cour, int temper, int capacity, int type, int temps = 0) {
    return recordBytes({{4, temps / 3600},
                        {5, temps / 60 % 60},
                        {6, temps % 60},
                        {8, vbat >> 8},
                        {9, vbat & 0xFF},
                        {10, cour >> 8},
                        {11, cour & 0xFF},
                        {12, temper >> 8},
                        {13, temper & 0xFF},
                        {18, (capacity >> 8) & 0xFF},
                        {19, capacity & 0xFF},
                        {20, type}});
}
} // namespace

class TestMoniLogic : public QObject {
    Q_OBJECT
  private slots:
    void decodesFields_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("field");
        QTest::addColumn<int>("value");
        QTest::newRow("Temps of 1 h 2 min 3 s")
            << recordBytes({{4, 1}, {5, 2}, {6, 3}}) << "temps" << 3723;
        QTest::newRow("Resist is byte 17 alone")
            << recordBytes({{16, 1}, {17, 5}}) << "resist" << 5;
        QTest::newRow("Echantillon high byte first")
            << recordBytes({{2, 1}, {3, 2}}) << "echantillon" << 258;
        QTest::newRow("VBat high byte first") << recordBytes({{8, 2}, {9, 3}}) << "vbat" << 515;
        QTest::newRow("Maxidv, the last bytes")
            << recordBytes({{28, 4}, {29, 1}}) << "maxidv" << 1025;
        QTest::newRow("capacity below 32768")
            << recordBytes({{18, 0x7F}, {19, 0xFF}}) << "capacite" << 32767;
        QTest::newRow("capacity high byte 255 is negative")
            << recordBytes({{18, 0xFF}, {19, 0xFF}}) << "capacite" << -1;
        QTest::newRow("capacity high byte 128")
            << recordBytes({{18, 0x80}, {19, 0x00}}) << "capacite" << -32768;
        QTest::newRow("a short record reads 0 for what is missing")
            << recordBytes({{8, 1}}).left(8) << "vbat" << 256;
    }
    void decodesFields() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, field);
        QFETCH(int, value);
        const Record r = decode(bytes);
        const QHash<QString, int> got{{"temps", r.temps},   {"resist", r.resist},
                                      {"vbat", r.vbat},     {"capacite", r.capacite},
                                      {"maxidv", r.maxidv}, {"echantillon", r.echantillon}};
        QCOMPARE(got.value(field), value);
    }

    void logLineFollowsTheHeader() {
        QCOMPARE(logHeader(), QStringLiteral("Prompt,Echantillon,Temps,=,VBat,Cour,Temper,Vdelta,"
                                             "Resist,Capacité,Type,CDV,Valim,Vdbl,Vmoy,Maxidv"));
        QByteArray b = withType(600, 300, 512, -2, 2, 3723);
        b[1] = 0;
        b[2] = 7;
        b[20] = 4;
        const QString line = logLine(decode(b));
        QCOMPARE(line, QStringLiteral("C, 7 , 3723 ,=, 600 , 300 , 512 , 0 , 0 ,-2 , 2 , 4 , 0 , "
                                      "0 , 0 , 0 "));
        QCOMPARE(line.count(QLatin1Char(',')), logHeader().count(QLatin1Char(',')));
        // A control byte or a comma as the prompt would split the line or shift its columns.
        for (char prompt : {'\n', '\r', ','}) {
            b[0] = prompt;
            QVERIFY(logLine(decode(b)).startsWith(QStringLiteral("?,")));
        }
        QCOMPARE(logFileName(QDateTime(QDate(2026, 12, 9), QTime(8, 5))),
                 QStringLiteral("MOni_CHrg_D12_09_26T08_05.txt"));
    }

    // What the stream held before and between records, and the records found in it.
    void findsRecords_data() {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<QList<int>>("vbats"); // of the records found, in order
        QTest::addColumn<int>("rejected");
        const QByteArray a = withType(101, 0, 0, 0, 1);
        const QByteArray b = withType(102, 0, 0, 0, 1);
        const QByteArray lf(1, char(kLineFeed));
        QTest::newRow("from the start") << lf + a + lf + b << QList<int>{101, 102} << 0;
        QTest::newRow("joined in the middle of a record")
            << a.mid(11) + lf + b << QList<int>{102} << 0;
        QTest::newRow("joined at the very last byte")
            << a.right(1) + lf + b << QList<int>{102} << 0;
        // The tail of a record whose data holds a 10: that false line feed gives no '=' in
        // seventh place; the true record starting inside those bytes is kept.
        QByteArray tail = a.mid(12);
        tail[3] = char(kLineFeed);
        QTest::newRow("a data byte 10 before the first line feed")
            << tail + lf + b + lf + a << QList<int>{102, 101} << 1;
        QTest::newRow("a record holding 10 in its data")
            << lf + withType(10, 10, 10, 10, 1) + lf + b << QList<int>{10, 102} << 0;
        QTest::newRow("noise only") << QByteArray(100, char(0xF8)) << QList<int>{} << 0;
    }
    void findsRecords() {
        QFETCH(QByteArray, stream);
        QFETCH(QList<int>, vbats);
        QFETCH(int, rejected);
        RecordSync sync;
        QList<int> got;
        for (char c : stream)
            if (const auto r = sync.feed(quint8(c))) got << r->vbat;
        QCOMPARE(got, vbats);
        QCOMPARE(sync.rejected(), rejected);
    }

    // Whatever the line carries (noise, records cut anywhere), every record found has its '='
    // and whole records sent among the noise are all found.
    void noiseNeverMakesARecord() {
        QRandomGenerator rng(17);
        RecordSync sync;
        QByteArray stream;
        int sent = 0;
        for (int i = 0; i < 2000; ++i) {
            QByteArray chunk(int(rng.bounded(80)), 0);
            for (char &c : chunk)
                c = char(rng.bounded(4) == 0 ? kLineFeed : rng.bounded(256));
            stream += chunk;
            if (i % 4 == 0) {
                stream += char(kLineFeed) + withType(4000 + i, 0, 0, 0, 1);
                ++sent;
            }
        }
        int found = 0;
        for (char c : stream)
            if (const auto r = sync.feed(quint8(c))) {
                QCOMPARE(r->separator, '=');
                found += r->vbat >= 4000;
            }
        QVERIFY2(found >= sent * 9 / 10,
                 qPrintable(QStringLiteral("%1 of %2").arg(found).arg(sent)));
    }

    // One point per ten records: the means of the ten battery and current counts, and the
    // third series from the temperature, or the capacity / 10 when the record before was of
    // type 2.
    void plotsEveryTenth_data() {
        QTest::addColumn<QList<int>>("types"); // one record each, vbat = 100 + index
        QTest::addColumn<QList<int>>("rows");  // the row of each point
        QTest::addColumn<QList<double>>("thirds");
        QTest::addColumn<int>("captionAt"); // the record (1-based) that changes the caption
        const QList<int> ones(25, 1);
        QTest::newRow("nine records plot nothing")
            << QList<int>(9, 1) << QList<int>{} << QList<double>{} << 0;
        QTest::newRow("the 10th and the 20th add a row")
            << ones << QList<int>{1, 2} << QList<double>{500, 500} << 0;
        QList<int> capacity = ones.mid(0, 20);
        capacity[14] = 2;
        capacity[18] = 2;
        // The 20th point follows a type-2 record: the capacity / 10 (-30 / 10).
        QTest::newRow("the type-2 series")
            << capacity << QList<int>{1, 2} << QList<double>{500, -3} << 15;
        QList<int> tenth = ones.mid(0, 10);
        tenth[9] = 2;
        QTest::newRow("type 2 at the tenth itself still plots the temperature")
            << tenth << QList<int>{1} << QList<double>{500} << 10;
    }
    void plotsEveryTenth() {
        QFETCH(QList<int>, types);
        QFETCH(QList<int>, rows);
        QFETCH(QList<double>, thirds);
        QFETCH(int, captionAt);
        ChartTally tally;
        QList<int> gotRows;
        QList<double> gotThirds;
        int changedAt = 0, changes = 0;
        for (int i = 0; i < types.size(); ++i) {
            const auto p = tally.add(decode(withType(100 + i, 2 * i, 500, -30, types[i], i)));
            if (tally.captionChangedNow()) {
                changedAt = i + 1;
                ++changes;
            }
            if (!p) continue;
            gotRows << p->row;
            gotThirds << p->third;
            QCOMPARE(p->thirdIsCapacity, p->third == -3);
            QCOMPARE(p->seconds, i);
            // Means of the ten records up to this one.
            QCOMPARE(p->vbat, 100 + i - 4.5);
            QCOMPARE(p->cour, 2 * (i - 4.5));
        }
        QCOMPARE(gotRows, rows);
        QCOMPARE(gotThirds, thirds);
        QCOMPARE(changedAt, captionAt);
        QCOMPARE(changes, captionAt ? 1 : 0); // once only
        QCOMPARE(tally.total(), types.size());
        tally.reset();
        QCOMPARE(tally.total(), 0);
        QVERIFY(!tally.captionChanged());
    }
};

QTEST_GUILESS_MAIN(TestMoniLogic)
#include "tst_monilogic.moc"
