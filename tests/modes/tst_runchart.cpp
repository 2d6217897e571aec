// The run chart as a user meets it: the read-out under the mouse, zoom and back, export to
// files that never replace one without asking.
#include "link/messages.h"
#include "modes/runchart.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>

using namespace modes;
using namespace chlink;

namespace {

// Two hours of a charge: rising voltage on the left, a constant current on the right.
void fill(RunChart &chart, int seconds) {
    for (int t = 0; t <= seconds; ++t) {
        chart.append(0, t, 1.2 + t * 1e-5);
        chart.append(1, t, 2.0);
    }
}

QAction *action(RunChart &chart, const char *name) {
    return chart.findChild<QAction *>(QString::fromLatin1(name));
}

} // namespace

class TestRunChart : public QObject {
    Q_OBJECT
  private slots:
    void init();
    void cleanup();
    void readoutUnderTheMouse();
    void dragZoomsAndDoubleClickShowsAll();
    void exportWritesOnlyWhatWasAllowed_data();
    void exportWritesOnlyWhatWasAllowed();

  private:
    RunChart *m_chart = nullptr;
};

void TestRunChart::init() {
    m_chart = new RunChart(QStringLiteral("Batterie"), QStringLiteral("V"), QStringLiteral("A"));
    m_chart->addCurve(QStringLiteral("V Batterie"), RunChart::Left, Qt::blue);
    m_chart->addCurve(QStringLiteral("I Charge"), RunChart::Right, Qt::red);
    m_chart->resize(700, 320);
    m_chart->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_chart));
}

void TestRunChart::cleanup() {
    setFileHook({});
    setBoxHook({});
    delete m_chart;
    m_chart = nullptr;
}

// Half way across the plot of a two-hour run: the time there and each curve's value.
void TestRunChart::readoutUnderTheMouse() {
    fill(*m_chart, 7200);
    m_chart->refresh();
    m_chart->grab();
    QCOMPARE(m_chart->readout(), QString());
    // The time axis ends on a round value past the last point; find where 1:00:00 lies.
    const double end = m_chart->viewEnd();
    QVERIFY(end >= 7200 && end <= 2 * 7200);
    const QPoint middle(m_chart->width() / 2, m_chart->height() / 2);
    QTest::mouseMove(m_chart, middle);
    const QString text = m_chart->readout();
    const QStringList lines = text.split('\n');
    QCOMPARE(lines.size(), 3);
    // The values are those of the point at the time shown.
    const QStringList hms = lines[0].split(':');
    QCOMPARE(hms.size(), 3);
    const double t = hms[0].toInt() * 3600 + hms[1].toInt() * 60 + hms[2].toInt();
    QVERIFY2(t > 0.3 * end && t < 0.7 * end, qPrintable(text));
    const QRegularExpression voltage(QStringLiteral("^V Batterie : (1\\.\\d+) V$"));
    const QRegularExpressionMatch m = voltage.match(lines[1]);
    QVERIFY2(m.hasMatch(), qPrintable(text));
    QVERIFY2(std::fabs(m.captured(1).toDouble() - (1.2 + t * 1e-5)) < 2e-4, qPrintable(text));
    QVERIFY2(QRegularExpression(QStringLiteral("^I Charge : 2 A$")).match(lines[2]).hasMatch(),
             qPrintable(text));
    // Past the last point there is nothing to read for the curves.
    QTest::mouseMove(m_chart, QPoint(m_chart->width() - 60, m_chart->height() / 2));
    if (end > 7200 * 1.1) QCOMPARE(m_chart->readout().split('\n').size(), 1);
}

void TestRunChart::dragZoomsAndDoubleClickShowsAll() {
    fill(*m_chart, 7200);
    m_chart->grab();
    const double fullEnd = m_chart->viewEnd();
    QVERIFY(!action(*m_chart, "actVueEntiere")->isEnabled());

    const int y = m_chart->height() / 2;
    QTest::mousePress(m_chart, Qt::LeftButton, {}, QPoint(m_chart->width() * 2 / 5, y));
    QTest::mouseMove(m_chart, QPoint(m_chart->width() * 3 / 5, y));
    QTest::mouseRelease(m_chart, Qt::LeftButton, {}, QPoint(m_chart->width() * 3 / 5, y));
    QVERIFY(m_chart->isZoomed());
    QVERIFY(m_chart->viewStart() > 0);
    QVERIFY(m_chart->viewEnd() < fullEnd);
    QVERIFY(m_chart->viewEnd() - m_chart->viewStart() < fullEnd / 3);
    QVERIFY(action(*m_chart, "actVueEntiere")->isEnabled());

    // Points keep arriving while zoomed; the view stays where the user put it.
    const double zoomEnd = m_chart->viewEnd();
    m_chart->append(0, 20000, 1.5);
    QCOMPARE(m_chart->viewEnd(), zoomEnd);

    // A click is not a drag.
    QTest::mouseClick(m_chart, Qt::LeftButton, {}, QPoint(m_chart->width() / 2, y));
    QVERIFY(m_chart->isZoomed());

    QTest::mouseDClick(m_chart, Qt::LeftButton, {}, QPoint(m_chart->width() / 2, y));
    QVERIFY(!m_chart->isZoomed());
    QCOMPARE(m_chart->viewStart(), 0.0);
    QVERIFY(m_chart->viewEnd() >= 20000);
    QCOMPARE(m_chart->pointCount(0), 7202);

    // The menu entry does the same.
    m_chart->zoomTo(100, 200);
    action(*m_chart, "actVueEntiere")->trigger();
    QVERIFY(!m_chart->isZoomed());
}

void TestRunChart::exportWritesOnlyWhatWasAllowed_data() {
    QTest::addColumn<QString>("actionName");
    QTest::addColumn<QString>("typed");      // what the user typed in the dialog
    QTest::addColumn<QString>("existing");   // a file already there, by name
    QTest::addColumn<bool>("replaceAnswer"); // the answer to "replace?" if asked
    QTest::addColumn<QString>("written");    // the file that must hold the chart, or empty
    QTest::addColumn<QByteArray>("magic");
    QTest::newRow("PDF") << "actExportPdf"
                         << "run.pdf"
                         << "" << false << "run.pdf" << QByteArray("%PDF");
    QTest::newRow("PNG") << "actExportPng"
                         << "run.png"
                         << "" << false << "run.png" << QByteArray("\x89PNG");
    QTest::newRow("suffix added") << "actExportPng"
                                  << "run"
                                  << "" << false << "run.png" << QByteArray("\x89PNG");
    // The dialog confirmed "run", not "run.pdf": ask before replacing it.
    QTest::newRow("suffix added, file there, keep it") << "actExportPdf"
                                                       << "run"
                                                       << "run.pdf" << false << "" << QByteArray();
    QTest::newRow("suffix added, file there, replace it")
        << "actExportPdf"
        << "run"
        << "run.pdf" << true << "run.pdf" << QByteArray("%PDF");
    QTest::newRow("dialog cancelled") << "actExportPdf"
                                      << ""
                                      << "" << false << "" << QByteArray();
}

void TestRunChart::exportWritesOnlyWhatWasAllowed() {
    QFETCH(QString, actionName);
    QFETCH(QString, typed);
    QFETCH(QString, existing);
    QFETCH(bool, replaceAnswer);
    QFETCH(QString, written);
    QFETCH(QByteArray, magic);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray before("the user's own file");
    if (!existing.isEmpty()) {
        QFile f(dir.filePath(existing));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(before);
    }
    fill(*m_chart, 600);
    QString filter;
    setFileHook([&](bool save, const QString &, const QString &, const QString &f) {
        filter = f;
        return save && !typed.isEmpty() ? dir.filePath(typed) : QString();
    });
    int asked = 0;
    setBoxHook([&](const BoxRequest &r) {
        ++asked;
        return r.kind == BoxKind::Question && replaceAnswer;
    });
    action(*m_chart, actionName.toLatin1().constData())->trigger();

    QCOMPARE(asked, existing.isEmpty() ? 0 : 1);
    QVERIFY(filter.contains(actionName.endsWith("Pdf") ? "*.pdf" : "*.png"));
    if (!existing.isEmpty() && written.isEmpty()) {
        QFile f(dir.filePath(existing));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), before);
    }
    if (written.isEmpty()) {
        if (existing.isEmpty()) QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 0);
        return;
    }
    QFile f(dir.filePath(written));
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray data = f.readAll();
    QVERIFY(data.size() > 1000);
    QVERIFY(data.startsWith(magic));
}

QTEST_MAIN(TestRunChart)
#include "tst_runchart.moc"
