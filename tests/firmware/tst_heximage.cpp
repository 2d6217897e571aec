// The HEX loaders: what each record does to the master, slave and boot loader images,
// what makes a file refused, and files made by real tools loaded byte for byte.

#include "firmware/heximage.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

using namespace firmware;

namespace {

// One record line with its checksum.
QByteArray rec(int type, int address, const QByteArray &data) {
    QByteArray bytes;
    bytes.append(char(data.size()));
    bytes.append(char(address >> 8));
    bytes.append(char(address & 0xFF));
    bytes.append(char(type));
    bytes.append(data);
    quint8 sum = 0;
    for (char c : bytes)
        sum = quint8(sum + quint8(c));
    bytes.append(char(quint8(-sum)));
    return ':' + bytes.toHex().toUpper() + '\n';
}
QByteArray data(int address, const QByteArray &d) {
    return rec(0, address, d);
}
QByteArray ext(int upper) {
    return rec(4, 0, QByteArray::fromHex(QByteArray::number(upper, 16).rightJustified(4, '0')));
}
QByteArray segment(int base) {
    return rec(2, 0, QByteArray::fromHex(QByteArray::number(base, 16).rightJustified(4, '0')));
}
const QByteArray bom = "\xEF\xBB\xBF";
const QByteArray eof = ":00000001FF\n";

QByteArray seq(int n, int from = 0) {
    QByteArray b;
    for (int i = 0; i < n; ++i)
        b.append(char(from + i));
    return b;
}

// A recognisable image that no loader produces by itself.
QByteArray patternImage(int size) {
    QByteArray b(size, 0);
    for (int i = 0; i < size; ++i)
        b[i] = char(i * 7 + 3);
    return b;
}
QVector<quint16> patternWords() {
    QVector<quint16> w(kSlaveWords);
    for (int i = 0; i < kSlaveWords; ++i)
        w[i] = quint16((i * 13) & 0x3FFF);
    return w;
}

using Bytes = QList<QPair<int, QByteArray>>; // expected contents at byte addresses
using Words = QList<QPair<int, int>>;        // expected slave words

bool runTool(const QString &program, const QStringList &args) {
    if (QStandardPaths::findExecutable(program).isEmpty()) return false;
    QProcess p;
    p.start(program, args);
    return p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

QByteArray readAll(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

namespace firmware {
char *toString(const AddressSpan &s) {
    return qstrdup(qPrintable(QStringLiteral("[%1, %2)").arg(s.from, 0, 16).arg(s.to, 0, 16)));
}
} // namespace firmware

class TstHexImage : public QObject {
    Q_OBJECT
  private slots:
    void hexPairDigits_data();
    void hexPairDigits();
    void master_data();
    void master();
    void refused_data();
    void refused();
    void spans_data();
    void spans();
    void slave_data();
    void slave();
    void bootLoaderFillAndEnd();
    void bootLoaderBadFileKeepsBuffer();
    void crossCheckMasterWithObjcopy();
    void crossCheckBootWithSrecCat();
    void crossCheckSlaveWithSrecCat();
    void readsFileFromDisk_data();
    void readsFileFromDisk();
};

void TstHexImage::hexPairDigits_data() {
    QTest::addColumn<QByteArray>("pair");
    QTest::addColumn<int>("value");
    QTest::newRow("zero") << QByteArray("00") << 0;
    QTest::newRow("upper") << QByteArray("3F") << 0x3F;
    QTest::newRow("lower") << QByteArray("af") << 0xAF;
    QTest::newRow("mixed") << QByteArray("Fe") << 0xFE;
    QTest::newRow("max") << QByteArray("FF") << 255;
    QTest::newRow("G") << QByteArray("G0") << -1;
    QTest::newRow("colon") << QByteArray("0:") << -1;
    QTest::newRow("blank") << QByteArray(" 1") << -1;
    QTest::newRow("below 48") << QByteArray("1/") << -1;
}

void TstHexImage::hexPairDigits() {
    QFETCH(QByteArray, pair);
    QFETCH(int, value);
    QCOMPARE(hexPair(pair[0], pair[1]), value);
}

// Files that load: which master bytes they set and the end address they leave.
void TstHexImage::master_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<Bytes>("expected");
    QTest::addColumn<int>("endAddress");

    const QByteArray d16 = seq(16, 0x10);
    QTest::newRow("16 bytes at 0") << data(0, d16) + eof << Bytes{{0, d16}} << 16;
    QTest::newRow("extended 0000 first same as without")
        << ext(0) + data(0, d16) + eof << Bytes{{0, d16}} << 16;
    QTest::newRow("extended other with no data under it, then 0000")
        << data(0x100, "\x01\x02") + ext(1) + ext(0) + data(0x300, "\x05\x06") + eof
        << Bytes{{0x100, "\x01\x02"}, {0x300, "\x05\x06"}} << 0x302;
    QTest::newRow("segment record: data at segment * 16 + offset")
        << segment(0x0200) + data(0x10, "\x03\x04") + segment(0) + data(0x300, "\x05\x06") + eof
        << Bytes{{0x2010, "\x03\x04"}, {0x300, "\x05\x06"}} << 0x2012;
    QTest::newRow("segment then linear: the last one counts")
        << segment(0x0100) + ext(0) + data(0x10, "\x07\x08") + eof << Bytes{{0x10, "\x07\x08"}}
        << 0x12;
    QTest::newRow("byte-order mark before the first record")
        << bom + data(0, "\x0C\x94") + data(0x10, "\x11\x22") + eof
        << Bytes{{0, "\x0C\x94"}, {0x10, "\x11\x22"}} << 0x12;
    QTest::newRow("end record stops the load")
        << data(0x10, "\xAA\xBB") + eof + data(0x20, "\xCC\xDD") + "garbage after the end\n"
        << Bytes{{0x10, "\xAA\xBB"}, {0x20, "\xFF\xFF"}} << 0x12;
    QTest::newRow("no end record: read to the last line")
        << data(0x10, "\xAA\xBB") + data(0x20, "\xCC\xDD")
        << Bytes{{0x10, "\xAA\xBB"}, {0x20, "\xCC\xDD"}} << 0x22;
    QTest::newRow("lower case digits")
        << data(0x1234, "\xAB\xCD").toLower() + eof << Bytes{{0x1234, "\xAB\xCD"}} << 0x1236;
    QTest::newRow("odd count stores exactly its bytes")
        << data(0x40, "\x01\x02\x03") + eof << Bytes{{0x40, QByteArray("\x01\x02\x03\xFF")}}
        << 0x43;
    QTest::newRow("blank lines, blanks and CR LF")
        << "\r\n \t\r\n  " + data(0x80, "\x11\x22").chopped(1) + "  \r\n" + eof
        << Bytes{{0x80, "\x11\x22"}} << 0x82;
    QTest::newRow("last byte of memory")
        << data(0x7FFE, "\x42\x43") + eof << Bytes{{0x7FFE, "\x42\x43"}} << 0x8000;
    QTest::newRow("other record types skipped")
        << rec(3, 0, QByteArray(4, 1)) + rec(5, 0, QByteArray(4, 2)) + data(0, "\x99\x98") + eof
        << Bytes{{0, "\x99\x98"}} << 2;
    QTest::newRow("unsorted: the end address is the highest, not the last record's")
        << data(0x500, "\x01\x02") + data(0x100, "\x03\x04") + eof
        << Bytes{{0x500, "\x01\x02"}, {0x100, "\x03\x04"}} << 0x502;
    QTest::newRow("unsorted: a short record inside a longer one")
        << data(0x200, seq(16)) + data(0x204, "\xAA") + eof
        << Bytes{{0x200, seq(4)}, {0x204, "\xAA"}, {0x205, seq(11, 5)}} << 0x210;
    QTest::newRow("a 0 and 1 inside data are data")
        << data(0x600, QByteArray("\x00\x01\x06\x1B", 4)) + eof
        << Bytes{{0x600, QByteArray("\x00\x01\x06\x1B", 4)}} << 0x604;
}

void TstHexImage::master() {
    QFETCH(QByteArray, text);
    QFETCH(Bytes, expected);
    QFETCH(int, endAddress);

    const ByteImageLoad r = loadMasterImage(text);
    QVERIFY2(r.ok, qPrintable(r.error.text()));
    QByteArray want = blankMasterImage();
    for (const auto &[address, bytes] : expected)
        want.replace(address, bytes.size(), bytes);
    QCOMPARE(r.image.size(), kMasterImageSize);
    QVERIFY(r.image == want);
    QCOMPARE(r.endAddress, endAddress);
}

// Malformed and misplaced files: for each loader, the line it blames (0: the file as a
// whole, -1: the file loads), and a word of the reason given by the first loader of master,
// boot loader that refuses it. A refused file leaves the given image untouched.
void TstHexImage::refused_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("master");
    QTest::addColumn<int>("boot");
    QTest::addColumn<int>("slave");
    QTest::addColumn<QString>("reason");

    const QByteArray good = data(0, seq(16));
    const auto all = [](const char *name, const QByteArray &text, int line, const char *reason) {
        QTest::newRow(name) << text << line << line << line << QString::fromUtf8(reason);
    };
    QByteArray badSum = data(0x20, seq(8));
    badSum[badSum.size() - 2] = badSum.at(badSum.size() - 2) == '0' ? '1' : '0';
    all("corrupted checksum", good + badSum + eof, 2, "somme");
    QByteArray badDigit = data(0x20, seq(8));
    badDigit[12] = 'G';
    all("non hex character", good + good + badDigit + eof, 3, "hexadécimal");
    all("short line", good + data(0x20, seq(8)).left(20) + "\n" + eof, 2, "courte");
    all("count longer than the line", ":10000000" + seq(8).toHex() + "00\n" + eof, 1, "courte");
    all("count shorter than the line", ":04000000" + seq(8).toHex() + "00\n", 1, "longueur");
    all("odd digit count", good + ":0000000\n", 2, "courte");
    all("colon only", QByteArray(":\n"), 1, "courte");
    all("empty file", QByteArray(), 0, "aucune");
    all("byte-order mark only", bom, 0, "aucune");
    all("end record only", eof, 0, "aucune");
    all("extended address of 3 bytes", rec(4, 0, QByteArray(3, 0)) + good + eof, 1, "étendue");
    all("unknown record type", good + rec(6, 0, "\x01") + eof, 2, "inconnu");
    all("faulty line after good data leaves nothing loaded",
        good + data(0x10, seq(16)) + data(0x20, seq(4)).replace("00", "0x") + eof, 3,
        "hexadécimal");
    // A line that is not a record: never skipped, wherever it is.
    all("a record that lost its ':'", good + data(0x10, seq(16)).mid(1) + eof, 2, "':'");
    all("a comment", "; firmware v2\n" + good + eof, 1, "':'");
    all("text before the first record", "Firmware\r\n" + good + eof, 1, "':'");
    all("byte-order mark and no ':'", bom + data(0, seq(4)).mid(1) + eof, 1, "':'");
    all("a byte-order mark that is not at the start", good + bom + data(0x10, seq(4)) + eof, 2,
        "':'");
    // Beyond the device, whatever the address: one rule.
    QTest::newRow("address 0x8000")
        << good + data(0x8000, "\x01\x02") + eof << 2 << 2 << -1 << "0x8000, hors de la mémoire";
    QTest::newRow("address 0xFFF0")
        << data(0xFFF0, seq(16)) + eof << 1 << 1 << 0 << "0xFFF0, hors de la mémoire";
    QTest::newRow("data runs past 0x7FFF")
        << data(0x7FF8, seq(16)) + eof << 1 << 1 << 0 << "0x8000, hors de la mémoire";
    all("data at 0x10000", good + ext(1) + data(0, seq(4)) + eof, 3, "0x10000, hors de");
    all("data at 0x10000 then back to 0000",
        good + ext(1) + data(0x200, seq(4)) + ext(0) + data(0x300, seq(4)) + eof, 3,
        "0x10200, hors de");
    all("data only under a non-zero extended address", ext(2) + good + eof, 2, "0x20000");
    QTest::newRow("segment record placing data at 0x8000")
        << good + segment(0x0800) + data(0, seq(4)) + eof << 3 << 3 << -1 << "0x8000";
    all("segment record placing data at 0x10000", good + segment(0x1000) + data(0x20, seq(4)) + eof,
        3, "0x10020");
    // Nothing in the range the boot loader receives: uploading would only erase.
    QTest::newRow("only in the boot loader's area")
        << data(0x7800, seq(16)) + data(0x7FF0, seq(16)) + eof << -1 << 0 << 0
        << "0x7800..0x780F, 0x7FF0..0x7FFF";
    QTest::newRow("a single byte at 0x7FFF")
        << data(0x7FFF, "\x42") + eof << -1 << 0 << 0 << "zone du bootloader";
}

void TstHexImage::refused() {
    QFETCH(QByteArray, text);
    QFETCH(int, master);
    QFETCH(int, boot);
    QFETCH(int, slave);
    QFETCH(QString, reason);

    const QByteArray before = patternImage(kMasterImageSize);
    bool reasonChecked = false;
    const auto check = [&](const char *loader, bool ok, const LoadError &error, int line) {
        const QString what = QStringLiteral("%1: %2").arg(loader, ok ? "loads" : error.text());
        if (line < 0) {
            QVERIFY2(ok, qPrintable(what));
            return;
        }
        QVERIFY2(!ok, qPrintable(what));
        QCOMPARE(error.line, line);
        QVERIFY(!error.english.isEmpty());
        if (line > 0) {
            QVERIFY(error.text().startsWith(QStringLiteral("ligne %1 : ").arg(line)));
            QVERIFY(error.englishText().startsWith(QStringLiteral("line %1: ").arg(line)));
        }
        if (!reasonChecked && qstrcmp(loader, "slave") != 0) {
            QVERIFY2(error.text().contains(reason), qPrintable(what));
            reasonChecked = true;
        }
    };

    const ByteImageLoad m = loadMasterImage(text, before);
    check("master", m.ok, m.error, master);
    if (!m.ok) QVERIFY(m.image == before);

    const ByteImageLoad b = loadBootImage(text, before);
    check("boot", b.ok, b.error, boot);
    if (!b.ok) QVERIFY(b.image == before);

    const QVector<quint16> words = patternWords();
    const SlaveImageLoad s = loadSlaveImage(text, words);
    check("slave", s.ok, s.error, slave);
    if (!s.ok) QVERIFY(s.words == words);
}

// Where a file's data lie: the spans the other windows use to refuse a file with nothing
// in the range they write.
void TstHexImage::spans_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QList<AddressSpan>>("spans");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<bool>("inMasterRange"); // 0x1000..0x7FFF

    QTest::newRow("one record") << data(0x1000, seq(16)) + eof
                                << QList<AddressSpan>{{0x1000, 0x1010}} << "0x1000..0x100F" << true;
    QTest::newRow("touching and overlapping records merge, in any order")
        << data(0x20, seq(16)) + data(0, seq(16)) + data(0x10, seq(16)) + data(0x18, seq(4)) + eof
        << QList<AddressSpan>{{0, 0x30}} << "0x0000..0x002F" << false;
    QTest::newRow("a hole keeps two spans")
        << data(0, seq(2)) + data(0x7FFE, seq(2)) + eof
        << QList<AddressSpan>{{0, 2}, {0x7FFE, 0x8000}} << "0x0000..0x0001, 0x7FFE..0x7FFF" << true;
    QTest::newRow("just below the range")
        << data(0xFF0, seq(16)) + eof << QList<AddressSpan>{{0xFF0, 0x1000}} << "0x0FF0..0x0FFF"
        << false;
    QTest::newRow("five spans: the text shows four")
        << data(0, "\x01") + data(4, "\x01") + data(8, "\x01") + data(12, "\x01") +
               data(16, "\x01") + eof
        << QList<AddressSpan>{{0, 1}, {4, 5}, {8, 9}, {12, 13}, {16, 17}}
        << "0x0000..0x0000, 0x0004..0x0004, 0x0008..0x0008, 0x000C..0x000C, ..." << false;
}

void TstHexImage::spans() {
    QFETCH(QByteArray, text);
    QFETCH(QList<AddressSpan>, spans);
    QFETCH(QString, shown);
    QFETCH(bool, inMasterRange);
    const ByteImageLoad r = loadMasterImage(text);
    QVERIFY2(r.ok, qPrintable(r.error.text()));
    QCOMPARE(r.spans, spans);
    QCOMPARE(r.spansText(), shown);
    QCOMPARE(r.holdsDataIn(0x1000, 0x8000), inMasterRange);
    QCOMPARE(r.endAddress, spans.last().to);
}

// Files that load into the slave image: words set and the last address.
void TstHexImage::slave_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<Words>("expected");
    QTest::addColumn<int>("lastAddress");

    Words first8;
    for (int i = 0; i < 8; ++i)
        first8.append({i, 0x0100 * (2 * i + 1) + 2 * i}); // low byte first
    QTest::newRow("16 bytes at 0 fill words 0..7, low byte first")
        << data(0, seq(16)) + eof << first8 << 8;
    QTest::newRow("extended 0000 does not touch word 0")
        << ext(0) + data(0x20, "\x34\x12") + eof << Words{{0, 0x3FFF}, {0x10, 0x1234}} << 0x11;
    QTest::newRow("segment record: byte address segment * 16 + offset")
        << segment(0x0002) + data(0x20, "\x34\x12") + eof << Words{{0x20, 0x1234}} << 0x21;
    QTest::newRow("byte-order mark before the first record")
        << bom + data(0, QByteArray("\x01\x00", 2)) + eof << Words{{0, 1}} << 1;
    QTest::newRow("record at 0x4000 ignored, last address unmoved")
        << data(0x10, "\x01\x02") + data(0x4000, QByteArray("\x07\x00", 2)) +
               data(0x400E, "\x72\x3F") + eof
        << Words{{8, 0x0201}} << 9;
    QTest::newRow("record crossing 0x4000 keeps words below")
        << data(0x3FFC, "\x01\x02\x03\x04\x05\x06") + eof
        << Words{{0x1FFE, 0x0201}, {0x1FFF, 0x0403}} << 8192;
    QTest::newRow("last address is one past the highest word, whatever the order")
        << data(0x3000, "\xAA\x0B") + data(0x100, "\xBB\x0C") + eof
        << Words{{0x1800, 0x0BAA}, {0x80, 0x0CBB}} << 0x1801;
    QTest::newRow("odd count stores the low byte only")
        << data(0x10, "\x01\x02\x03") + eof << Words{{8, 0x0201}, {9, 0x3F03}} << 10;
    QTest::newRow("odd start address sets the high byte")
        << data(0x11, "\x05") + eof << Words{{8, 0x05FF}} << 9;
    QTest::newRow("end record stops the load")
        << data(0, QByteArray("\x01\x00", 2)) + eof + data(2, QByteArray("\x02\x00", 2))
        << Words{{0, 1}, {1, 0x3FFF}} << 1;
    QTest::newRow("lower case") << data(0x20, "\xab\x3c").toLower() + eof << Words{{0x10, 0x3CAB}}
                                << 0x11;
}

void TstHexImage::slave() {
    QFETCH(QByteArray, text);
    QFETCH(Words, expected);
    QFETCH(int, lastAddress);

    const SlaveImageLoad r = loadSlaveImage(text);
    QVERIFY2(r.ok, qPrintable(r.error.text()));
    QCOMPARE(r.words.size(), kSlaveWords);
    QVector<quint16> want = blankSlaveImage();
    for (const auto &[w, v] : expected)
        want[w] = quint16(v);
    for (int i = 0; i < kSlaveWords; ++i)
        QVERIFY2(r.words[i] == want[i], qPrintable(QString("word %1: %2 instead of %3")
                                                       .arg(i)
                                                       .arg(r.words[i], 0, 16)
                                                       .arg(want[i], 0, 16)));
    QCOMPARE(r.lastAddress, lastAddress);
}

void TstHexImage::bootLoaderFillAndEnd() {
    QByteArray previous(kBootImageSize, 0x11);
    const ByteImageLoad r = loadBootImage(data(0x40, seq(32)) + eof, previous);
    QVERIFY(r.ok);
    QCOMPARE(r.image.size(), kBootImageSize);
    QCOMPARE(r.endAddress, 0x60);
    QCOMPARE(r.image.mid(0x40, 32), seq(32));
    QCOMPARE(r.image.left(0x40), QByteArray(0x40, char(0xFF)));
    // 0..30720 refilled, 30721 and above keep what the buffer held.
    QCOMPARE(quint8(r.image.at(kBootFillLast)), quint8(0xFF));
    QCOMPARE(r.image.mid(kBootFillLast + 1), QByteArray(kBootImageSize - kBootFillLast - 1, 0x11));
    // Data above the refilled range lands there; the rest above it keeps the buffer's bytes.
    // Records out of order: the end is the highest address all the same.
    const ByteImageLoad high =
        loadBootImage(data(0x7FF0, seq(16)) + data(0, seq(4)) + eof, previous);
    QVERIFY(high.ok);
    QCOMPARE(high.endAddress, 0x8000);
    QCOMPARE(high.image.mid(0x7FF0), seq(16));
    QCOMPARE(high.image.mid(kBootFillLast + 1, 0x7FF0 - kBootFillLast - 1),
             QByteArray(0x7FF0 - kBootFillLast - 1, 0x11));
    // A fresh buffer is all 0xFF.
    const ByteImageLoad fresh = loadBootImage(data(0x7FF0, seq(16)) + data(0, seq(4)) + eof);
    QVERIFY(fresh.ok);
    QCOMPARE(fresh.endAddress, 0x8000);
    QCOMPARE(fresh.image.mid(4, 0x7FF0 - 4), QByteArray(0x7FF0 - 4, char(0xFF)));
}

void TstHexImage::bootLoaderBadFileKeepsBuffer() {
    const ByteImageLoad first = loadBootImage(data(0, seq(64)) + eof);
    QVERIFY(first.ok);
    const ByteImageLoad second = loadBootImage(data(0, seq(64)) + ":0400", first.image);
    QVERIFY(!second.ok);
    QCOMPARE(second.error.line, 2);
    QVERIFY(second.image == first.image);
}

void TstHexImage::crossCheckMasterWithObjcopy() {
    QTemporaryDir dir;
    QByteArray bin(kMasterImageSize, 0);
    QRandomGenerator rng(4242);
    for (char &c : bin)
        c = char(rng.bounded(256));
    QFile f(dir.filePath("fw.bin"));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bin);
    f.close();
    if (!runTool("objcopy",
                 {"-I", "binary", "-O", "ihex", dir.filePath("fw.bin"), dir.filePath("fw.hex")}))
        QSKIP("objcopy is not installed");
    const ByteImageLoad r = loadMasterImage(readAll(dir.filePath("fw.hex")));
    QVERIFY2(r.ok, qPrintable(r.error.text()));
    QVERIFY(r.image == bin);
    QCOMPARE(r.endAddress, kMasterImageSize);
}

void TstHexImage::crossCheckBootWithSrecCat() {
    QTemporaryDir dir;
    QByteArray bin(5000, 0);
    QRandomGenerator rng(77);
    for (char &c : bin)
        c = char(rng.bounded(256));
    QFile f(dir.filePath("fw.bin"));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bin);
    f.close();
    // Placed at 0x1000, with 32-byte records.
    if (!runTool("srec_cat", {dir.filePath("fw.bin"), "-binary", "-offset", "0x1000", "-o",
                              dir.filePath("fw.hex"), "-intel"}))
        QSKIP("srec_cat is not installed");
    // A copy at 0x10000 lies outside the memory: refused at its first record.
    QVERIFY(runTool("srec_cat",
                    {dir.filePath("fw.bin"), "-binary", "-offset", "0x1000", dir.filePath("fw.bin"),
                     "-binary", "-offset", "0x10000", "-o", dir.filePath("fw2.hex"), "-intel"}));
    const QByteArray twice = readAll(dir.filePath("fw2.hex"));
    const int extLine = int(twice.left(twice.indexOf(":020000040001F9")).count('\n')) + 1;
    QVERIFY(extLine > 1);
    const ByteImageLoad outside = loadBootImage(twice);
    QVERIFY(!outside.ok);
    QCOMPARE(outside.error.line, extLine + 1);
    QVERIFY2(outside.error.text().contains("0x10000"), qPrintable(outside.error.text()));

    const QByteArray text = readAll(dir.filePath("fw.hex"));
    const ByteImageLoad r = loadBootImage(text);
    QVERIFY2(r.ok, qPrintable(r.error.text()));
    QByteArray want(kBootImageSize, char(0xFF));
    want.replace(0x1000, bin.size(), bin);
    QVERIFY(r.image == want);
    QCOMPARE(r.endAddress, 0x1000 + 5000);
}

void TstHexImage::crossCheckSlaveWithSrecCat() {
    QTemporaryDir dir;
    QVector<quint16> words(kSlaveWords);
    QByteArray bin;
    QRandomGenerator rng(99);
    for (quint16 &w : words) {
        w = quint16(rng.bounded(0x4000));
        bin.append(char(w & 0xFF));
        bin.append(char(w >> 8));
    }
    QFile f(dir.filePath("slave.bin"));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bin);
    f.close();
    // The configuration word at 0x400E, as the slave's toolchain writes it.
    if (!runTool("srec_cat", {dir.filePath("slave.bin"), "-binary", "-generate", "0x400E", "0x4010",
                              "-constant-l-e", "0x3F72", "2", "-o", dir.filePath("slave.hex"),
                              "-intel", "-output_block_size=16"}))
        QSKIP("srec_cat is not installed");
    const SlaveImageLoad r = loadSlaveImage(readAll(dir.filePath("slave.hex")));
    QVERIFY2(r.ok, qPrintable(r.error.text()));
    QVERIFY(r.words == words);
    QCOMPARE(r.lastAddress, kSlaveWords);
}

// What is at the path decides before anything opens it: opening a FIFO would wait for a
// writer for ever.
void TstHexImage::readsFileFromDisk_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("french"); // empty: read
    QTest::addColumn<QString>("english");
    QTest::newRow("regular file") << "file" << QString() << QString();
    QTest::newRow("missing") << "missing"
                             << "fichier introuvable"
                             << "no such file";
    QTest::newRow("folder") << "folder"
                            << "ce n'est pas un fichier ordinaire"
                            << "not a regular file";
    QTest::newRow("FIFO") << "fifo"
                          << "ce n'est pas un fichier ordinaire"
                          << "not a regular file";
    QTest::newRow("device") << "device"
                            << "ce n'est pas un fichier ordinaire"
                            << "not a regular file";
}

void TstHexImage::readsFileFromDisk() {
    QFETCH(QString, kind);
    QFETCH(QString, french);
    QFETCH(QString, english);
    QTemporaryDir dir;
    QString path = dir.filePath("fw.hex");
    if (kind == "file") {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(data(0, "\x01\x02") + eof);
    } else if (kind == "folder") {
        QVERIFY(QDir(dir.path()).mkdir("fw.hex"));
    } else if (kind == "fifo") {
        QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
    } else if (kind == "device") {
        path = "/dev/null";
    }
    QByteArray text;
    LoadError err;
    const bool read = readHexFile(path, &text, &err);
    QCOMPARE(read, french.isEmpty());
    if (read) {
        QVERIFY(loadMasterImage(text).ok);
        return;
    }
    QCOMPARE(err.text(), french);
    QCOMPARE(err.englishText(), english);
    QVERIFY(err.unreadable);
}

QTEST_GUILESS_MAIN(TstHexImage)
#include "tst_heximage.moc"
