// The boot loader handshake: probing, the answer judged on the last byte, disconnect while
// probing, a port that cannot open or vanishes, and the cost of waiting.
#include "support.h"

#include <QtTest>

#include "support/process.h"

using namespace loader;

class TestHandshake : public QObject {
    Q_OBJECT
  private slots:
    void answer_data();
    void answer();
    void noBootLoaderProbesUntilDisconnect();
    void portThatCannotOpen();
    void portVanishingWhileProbing();
    void probingCostsAlmostNoCpu();
};

void TestHandshake::answer_data() {
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("connects");
    QTest::newRow("c") << QByteArray("c") << true;
    QTest::newRow("stray byte then c") << QByteArray("\x11"
                                                     "c")
                                       << true;
    QTest::newRow("c then stray byte") << QByteArray("c\x11") << false;
    QTest::newRow("upper-case C") << QByteArray("C") << false;
}

void TestHandshake::answer() {
    // The answer is judged on the last byte heard in the probe's 200 ms.
    QFETCH(QByteArray, reply);
    QFETCH(bool, connects);
    FakeLink f;
    f.fake->probeAnswer = reply;
    QList<int> shown;
    const HandshakeResult r = f.link->handshake([&](int n) { shown << n; }, 3);
    QCOMPARE(r, connects ? HandshakeResult::Connected : HandshakeResult::GaveUp);
    QCOMPARE(f.link->connectionState, connects ? 1 : 0);
    const QList<int> expected = connects ? QList<int>{0} : QList<int>{0, 1, 2};
    QCOMPARE(shown, expected);
    QCOMPARE(f.fake->probes, shown.size());
}

void TestHandshake::noBootLoaderProbesUntilDisconnect() {
    FakeLink f;
    f.fake->present = false;
    int shown = 0;
    QElapsedTimer t;
    t.start();
    QTimer::singleShot(1000, f.link.get(), [&] { f.link->disconnectPort(); });
    const HandshakeResult r = f.link->handshake([&](int n) { shown = n; });
    QCOMPARE(r, HandshakeResult::Disconnected);
    QVERIFY2(t.elapsed() < 1400, "the disconnect ends the probe wait at once");
    QVERIFY2(shown >= 4 && shown <= 6, qPrintable(QString::number(shown)));
    QCOMPARE(f.fake->written, QByteArray("CD").repeated(f.fake->probes));
    QVERIFY(!f.link->isOpen());
    QVERIFY(!f.fake->writtenWhileClosed);
    QCOMPARE(f.link->connectionState, 0);
}

void TestHandshake::portThatCannotOpen() {
    FakeLink f;
    f.fake->openOk = false;
    QCOMPARE(f.link->handshake({}), HandshakeResult::PortError);
    QVERIFY(f.link->failReason().contains(QStringLiteral("refused")));
}

void TestHandshake::portVanishingWhileProbing() {
    FakeLink f;
    f.fake->present = false;
    QSignalSpy lost(f.link.get(), &BootLink::portLost);
    QTimer::singleShot(300, f.fake, [&] { f.fake->vanish(); });
    QElapsedTimer t;
    t.start();
    QCOMPARE(f.link->handshake({}), HandshakeResult::PortError);
    QVERIFY(t.elapsed() < 1000);
    QCOMPARE(lost.count(), 1);
}

void TestHandshake::probingCostsAlmostNoCpu() {
    FakeLink f;
    f.fake->present = false;
    const double before = cpuSeconds();
    f.link->handshake({}, 10); // 2 s of silence
    const double used = cpuSeconds() - before;
    QVERIFY2(used < 0.1, qPrintable(QStringLiteral("%1 s of CPU for 2 s of probing").arg(used)));
}

QTEST_GUILESS_MAIN(TestHandshake)
#include "tst_handshake.moc"
