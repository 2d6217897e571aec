// The block protocol against a scripted boot loader: which blocks go out, what the panels
// say, when the upload gives up.
#include "support.h"

#include <QtTest>

using namespace loader;

class TestUpload : public QObject {
    Q_OBJECT
  private slots:
    void blockLayout();
    void upload_data();
    void upload();
    void fillValueBeyondEndAddress();
    void memoryEqualsImage();
    void silentBootLoaderTimesOut();
    void vanishingPortStopsOnce();
    void disconnectDuringUpload();
};

void TestUpload::blockLayout() {
    QByteArray image(0x8000, char(0));
    for (int i = 0; i < 64; ++i)
        image[0x1234 + i] = char(0xF0 + (i & 0x0F));
    const QByteArray b = Upload::block(image, 0x1234);
    QCOMPARE(b.size(), 69);
    QCOMPARE(quint8(b[0]), 27);
    QCOMPARE(quint8(b[1]), 0x12);
    QCOMPARE(quint8(b[2]), 0x34);
    QCOMPARE(b.mid(3, 64), image.mid(0x1234, 64));
    unsigned sum = 0x12 + 0x34;
    for (int i = 0; i < 64; ++i)
        sum += quint8(image[0x1234 + i]);
    QCOMPARE(quint8(b[67]), quint8(sum & 0xFF));
    QCOMPARE(quint8(b[68]), 0);
}

void TestUpload::upload_data() {
    QTest::addColumn<int>("endAddress");
    QTest::addColumn<QList<quint8>>("script");
    QTest::addColumn<QList<int>>("strayAt"); // blocks whose answer comes after a stray 0x41
    QTest::addColumn<QList<int>>("expectedBlocks");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QString>("panel1");
    QTest::addColumn<QString>("panel2");
    QTest::addColumn<QString>("panel4");

    QTest::newRow("end 100: blocks 0 and 64")
        << 100 << QList<quint8>{} << QList<int>{} << QList<int>{0, 64} << int(UploadResult::Success)
        << "Upload Successfull"
        << "ACK"
        << "No Err";
    QTest::newRow("end 64: one block") << 64 << QList<quint8>{} << QList<int>{} << QList<int>{0}
                                       << int(UploadResult::Success) << "Upload Successfull"
                                       << "ACK"
                                       << "No Err";
    QTest::newRow("NACK, NACK, ACK: three sends")
        << 64 << QList<quint8>{7, 7, 6} << QList<int>{} << QList<int>{0, 0, 0}
        << int(UploadResult::Success) << "Upload Successfull"
        << "ACK"
        << "ErrCom  2,Flsh 0";
    QTest::newRow("four ERFLASH then ACK still succeeds")
        << 128 << QList<quint8>{6, 8, 8, 8, 8, 6} << QList<int>{}
        << QList<int>{0, 64, 64, 64, 64, 64} << int(UploadResult::Success) << "Upload Successfull"
        << "ACK"
        << "ErrCom  0,Flsh 4";
    QTest::newRow("five ERFLASH abandon")
        << 192 << QList<quint8>{6, 8, 8, 8, 8, 8} << QList<int>{}
        << QList<int>{0, 64, 64, 64, 64, 64} << int(UploadResult::Abandoned) << "Error in Upload 64"
        << "ERFLASH"
        << "ErrCom  0,Flsh 5";
    QTest::newRow("NACK and ERFLASH mixed count together")
        << 64 << QList<quint8>{7, 8, 7, 8, 7} << QList<int>{} << QList<int>{0, 0, 0, 0, 0}
        << int(UploadResult::Abandoned) << "Error in Upload 0"
        << "NACK"
        << "ErrCom  3,Flsh 2";
    QTest::newRow("an ACK resets the failure count")
        << 128 << QList<quint8>{7, 7, 7, 7, 6, 7, 7, 7, 7, 6} << QList<int>{}
        << QList<int>{0, 0, 0, 0, 0, 64, 64, 64, 64, 64} << int(UploadResult::Success)
        << "Upload Successfull"
        << "ACK"
        << "ErrCom  8,Flsh 0";
    QTest::newRow("another answer is a failed block, counted with the others")
        << 192 << QList<quint8>{7, 7, 7, 7, 0x55} << QList<int>{} << QList<int>{0, 0, 0, 0, 0}
        << int(UploadResult::Abandoned) << "Error in Upload 0"
        << "Réponse 0x55"
        << "ErrCom  4,Flsh 0,Autre 1";
    QTest::newRow("another answer on the last block: sent again")
        << 64 << QList<quint8>{0x55} << QList<int>{} << QList<int>{0, 0}
        << int(UploadResult::Success) << "Upload Successfull"
        << "ACK"
        << "ErrCom  0,Flsh 0,Autre 1";
    QTest::newRow("stray byte before an ERFLASH: the block is sent again and written")
        << 192 << QList<quint8>{6, 8} << QList<int>{1} << QList<int>{0, 64, 64, 128}
        << int(UploadResult::Success) << "Upload Successfull"
        << "ACK"
        << "ErrCom  0,Flsh 0,Autre 1";
    QTest::newRow("stray byte before the last block's ACK: sent again")
        << 128 << QList<quint8>{} << QList<int>{1} << QList<int>{0, 64, 64}
        << int(UploadResult::Success) << "Upload Successfull"
        << "ACK"
        << "ErrCom  0,Flsh 0,Autre 1";
    QTest::newRow("stray bytes before five answers abandon")
        << 128 << QList<quint8>{} << QList<int>{0, 1, 2, 3, 4} << QList<int>{0, 0, 0, 0, 0}
        << int(UploadResult::Abandoned) << "Error in Upload 0"
        << "Réponse 0x41"
        << "ErrCom  0,Flsh 0,Autre 5";
    QList<int> all;
    for (int a = 0; a < 0x7800; a += 64)
        all << a;
    QTest::newRow("an image reaching 0x7800 stops after 0x77C0")
        << 0x7FF0 << QList<quint8>{} << QList<int>{} << all << int(UploadResult::Success)
        << "Upload Successfull"
        << "ACK"
        << "No Err";
}

void TestUpload::upload() {
    QFETCH(int, endAddress);
    QFETCH(QList<quint8>, script);
    QFETCH(QList<int>, strayAt);
    QFETCH(QList<int>, expectedBlocks);
    QFETCH(int, outcome);
    QFETCH(QString, panel1);
    QFETCH(QString, panel2);
    QFETCH(QString, panel4);

    FakeLink f;
    QVERIFY(f.link->openPort());
    f.fake->blockAnswers = script;
    f.fake->strayAt = strayAt;
    QByteArray image(0x8000, char(0xFF));
    for (int i = 0; i < 0x8000; ++i)
        image[i] = char(i * 7 + 3);
    PanelRecorder rec;
    const UploadResult r = Upload::run(*f.link, image, endAddress, rec);

    QCOMPARE(int(r.outcome), outcome);
    QCOMPARE(f.fake->blockAddresses, expectedBlocks);
    QCOMPARE(f.fake->badBlocks, 0);
    QVERIFY2(f.fake->endSeen, "the end sequence 27, 255, 0 is sent in every case");
    QVERIFY(f.fake->written.endsWith(QByteArray("\x1b\xff\x00", 3)));
    QCOMPARE(rec.panels[1], panel1);
    QCOMPARE(rec.panels[2], panel2);
    QCOMPARE(rec.panels[3], QStringLiteral("Transfer Finished"));
    QCOMPARE(rec.panels[4], panel4);
    QCOMPARE(rec.maximum, qMin(endAddress, 0x7800));
    QVERIFY(rec.finishedSeen);
    QVERIFY(rec.progressValues.last() < 0x7800);
    // Success means every block is in the boot loader's memory.
    const int covered = qMin((endAddress + 63) / 64 * 64, 0x7800);
    if (r.outcome == UploadResult::Success)
        QVERIFY(f.fake->memory.left(covered) == image.left(covered));
}

void TestUpload::fillValueBeyondEndAddress() {
    // The second block of an image ending at 100 carries bytes 64..127; 100..127 are the
    // fill value of the image.
    FakeLink f;
    QVERIFY(f.link->openPort());
    QByteArray image(0x8000, char(0xFF));
    for (int i = 0; i < 100; ++i)
        image[i] = char(i);
    PanelRecorder rec;
    Upload::run(*f.link, image, 100, rec);
    QCOMPARE(f.fake->blocks.size(), 2);
    const QByteArray second = f.fake->blocks[1].mid(3, 64);
    for (int i = 0; i < 36; ++i)
        QCOMPARE(quint8(second[i]), quint8(64 + i));
    QCOMPARE(second.mid(36), QByteArray(28, char(0xFF)));
}

void TestUpload::memoryEqualsImage() {
    FakeLink f;
    QVERIFY(f.link->openPort());
    f.fake->blockAnswers = {7, 8, 6, 0x42};
    QByteArray image(0x8000, char(0xFF));
    for (int i = 0; i < 3000; ++i)
        image[i] = char((i * 31) >> 3);
    PanelRecorder rec;
    QCOMPARE(Upload::run(*f.link, image, 3000, rec).outcome, UploadResult::Success);
    // Block 64 was answered 0x42, not written by the fake, and sent again.
    QCOMPARE(f.fake->blockAddresses.mid(0, 5), (QList<int>{0, 0, 0, 64, 64}));
    QCOMPARE(f.fake->memory.left(3008), image.left(3008));
}

void TestUpload::silentBootLoaderTimesOut() {
    FakeLink f;
    f.link->answerTimeoutMs = 150;
    QVERIFY(f.link->openPort());
    f.fake->silentBlocks = true;
    PanelRecorder rec;
    QElapsedTimer t;
    t.start();
    const UploadResult r = Upload::run(*f.link, QByteArray(0x8000, char(0xFF)), 1024, rec);
    QVERIFY(t.elapsed() < 2000);
    QCOMPARE(r.outcome, UploadResult::Timeout);
    QCOMPARE(f.fake->blockAddresses, QList<int>{0});
    QCOMPARE(rec.panels[1], QStringLiteral("Error in Upload 0"));
    QCOMPARE(rec.panels[2], QStringLiteral("Time out"));
    QVERIFY(f.fake->endSeen);
}

void TestUpload::vanishingPortStopsOnce() {
    FakeLink f;
    QVERIFY(f.link->openPort());
    QSignalSpy lost(f.link.get(), &BootLink::portLost);
    f.fake->silentBlocks = true;
    QTimer::singleShot(50, f.fake, [&f] { f.fake->vanish(); });
    PanelRecorder rec;
    QElapsedTimer t;
    t.start();
    const UploadResult r = Upload::run(*f.link, QByteArray(0x8000, char(0xFF)), 1024, rec);
    QVERIFY2(t.elapsed() < 1000, "a vanished port ends the wait at once");
    QCOMPARE(r.outcome, UploadResult::PortFailed);
    QCOMPARE(lost.count(), 1);
    QCOMPARE(rec.panels[1], QStringLiteral("Error in Upload 0"));
    QVERIFY(!f.fake->writtenWhileClosed);
}

void TestUpload::disconnectDuringUpload() {
    FakeLink f;
    QVERIFY(f.link->openPort());
    f.fake->silentBlocks = true;
    QTimer::singleShot(50, f.link.get(), [&f] { f.link->disconnectPort(); });
    PanelRecorder rec;
    QElapsedTimer t;
    t.start();
    const UploadResult r = Upload::run(*f.link, QByteArray(0x8000, char(0xFF)), 1024, rec);
    QVERIFY(t.elapsed() < 1000);
    QCOMPARE(r.outcome, UploadResult::PortFailed);
    QVERIFY(!f.link->isOpen());
}

QTEST_GUILESS_MAIN(TestUpload)
#include "tst_upload.moc"
