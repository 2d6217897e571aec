// The number text every label and log uses.
#include "link/numtext.h"

#include <QTest>

class TstNumText : public QObject {
    Q_OBJECT
  private slots:
    void numText_data() {
        QTest::addColumn<double>("v");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << 0.0 << " 0";
        QTest::newRow("integer") << 12.0 << " 12";
        QTest::newRow("negative") << -3.0 << "-3";
        QTest::newRow("below one has no leading zero") << 0.56 << " .56";
        QTest::newRow("negative below one") << -0.25 << "-.25";
        QTest::newRow("no trailing zeros") << 1.5000 << " 1.5";
        QTest::newRow("seven significant digits") << 3.14159265 << " 3.141593";
        QTest::newRow("large") << 123456.0 << " 123456";
        QTest::newRow("tiny rounds to zero") << 1e-9 << " 0";
    }
    void numText() {
        QFETCH(double, v);
        QFETCH(QString, text);
        QCOMPARE(chlink::numText(v), text);
    }
    void logTextAddsTrailingBlankAndSeparator() {
        QCOMPARE(chlink::logText(1.25), QStringLiteral(" 1.25 "));
        QCOMPARE(chlink::logText(-0.5, QLatin1Char(',')), QStringLiteral("-,5 "));
        QCOMPARE(chlink::logText(7, QLatin1Char(',')), QStringLiteral(" 7 "));
    }
};

QTEST_GUILESS_MAIN(TstNumText)
#include "tst_numtext.moc"
