// The viewer window: runs overlaid and shown or hidden, curves chosen, a foreign file
// refused with a message, exports that never replace a file unasked, the pack named.
#include "link/messages.h"
#include "modes/capalogic.h"
#include "modes/monilogic.h"
#include "modes/runchart.h"
#include "modes/runinfo.h"
#include "modes/runlog.h"
#include "viewer/visionneuse.h"

#include "support/shot.h"

#include <QComboBox>
#include <QDialog>
#include <QImage>
#include <QLineEdit>
#include <QListWidget>
#include <QPrinter>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

namespace {
// A charge log written through the program's own log class.
QString writeCharge(const QString &path, int records, double amps) {
    modes::RunLog log;
    if (!log.open(path, modes::headerLine(modes::chargeColumns()), nullptr)) return {};
    for (int i = 1; i <= records; ++i)
        log.append(
            modes::recordLine({double(i), 700, 800, 10, 13.8, 0, 10, 25, 300, 600, 500, amps,
                               7 + 0.01 * i, 510, std::floor(i * 1000 * amps / 3600), i / 86400.0},
                              QLatin1Char(',')));
    return log.path();
}

QByteArray contentOf(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
} // namespace

class TestVisionneuse : public QObject {
    Q_OBJECT
  private slots:
    void init();
    void cleanup() {
        chlink::setBoxHook({});
        chlink::setFileHook({});
    }
    void overlaysRuns();
    void refusesForeignFile();
    void exportsNeverReplaceUnasked();
    void exportThroughTheDialog();
    void namesThePack();
    void printsTheChart();
    void otherKinds();

  private:
    QTemporaryDir m_dir;
    QStringList m_boxes;
    QString m_a, m_b;
};

void TestVisionneuse::init() {
    m_boxes.clear();
    chlink::setBoxHook([this](const chlink::BoxRequest &r) {
        m_boxes << r.text;
        return false;
    });
    if (m_a.isEmpty()) {
        m_a = writeCharge(m_dir.filePath(QStringLiteral("St_CH_D12_09_26T10_00.txt")), 120, 1.5);
        m_b = writeCharge(m_dir.filePath(QStringLiteral("St_CH_D12_09_26T11_00.txt")), 80, 2.0);
    }
    QVERIFY(!m_a.isEmpty() && !m_b.isEmpty());
}

void TestVisionneuse::overlaysRuns() {
    viewer::Visionneuse w{winkit::Host{}};
    w.show();
    QVERIFY(w.openFiles({m_a, m_b}));
    QCOMPARE(w.runCount(), 2);
    // Opening one again adds nothing.
    QVERIFY(w.openFiles({m_a}));
    QCOMPARE(w.runCount(), 2);
    QCOMPARE(w.findChild<QTableWidget *>("TableResume")->rowCount(), 2);
    QCOMPARE(w.findChild<QTableWidget *>("TableResume")->item(1, 4)->text(),
             QStringLiteral("44 mAh"));
    // Battery voltage on the left, charge current on the right, for both runs.
    QCOMPARE(w.leftColumn(), QStringLiteral("VBAT"));
    QCOMPARE(w.rightColumn(), QStringLiteral("ICHRG"));
    QCOMPARE(w.chart()->pointCount(0), 120);
    QCOMPARE(w.chart()->pointCount(1), 120);
    QCOMPARE(w.chart()->pointCount(2), 80);
    QCOMPARE(w.chart()->pointCount(3), 80);
    QCOMPARE(w.chart()->pointCount(4), 0);
    // Both start at 0: the time axis runs to the longer one.
    QVERIFY(w.chart()->viewEnd() >= 120);

    w.setRunShown(0, false);
    QCOMPARE(w.chart()->pointCount(0), 80);
    QCOMPARE(w.chart()->pointCount(2), 0);
    w.setRunShown(0, true);
    w.setCurves(QStringLiteral("CAPACITE"), QString());
    QCOMPARE(w.chart()->pointCount(0), 120);
    QCOMPARE(w.chart()->pointCount(1), 80);
    QCOMPARE(w.chart()->pointCount(2), 0);

    w.removeRun(0);
    QCOMPARE(w.runCount(), 1);
    QCOMPARE(w.findChild<QListWidget *>("ListeJournaux")->count(), 1);
    QCOMPARE(w.chart()->pointCount(0), 80);
    QVERIFY(m_boxes.isEmpty());
}

void TestVisionneuse::refusesForeignFile() {
    const QString foreign = m_dir.filePath(QStringLiteral("liste.txt"));
    QFile f(foreign);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("pain;lait;oeufs\r\n");
    f.close();
    viewer::Visionneuse w{winkit::Host{}};
    QVERIFY(!w.openFiles({foreign, m_a}));
    QCOMPARE(w.runCount(), 1); // the good one still opens
    QCOMPARE(m_boxes.size(), 1);
    QVERIFY(m_boxes[0].contains(QStringLiteral("liste.txt n'est pas un journal")));
}

void TestVisionneuse::exportsNeverReplaceUnasked() {
    viewer::Visionneuse w{winkit::Host{}};
    w.show();
    QVERIFY(w.openFiles({m_a, m_b}));
    QTemporaryDir out;
    const QString csv = out.filePath(QStringLiteral("a.csv"));
    w.setCsvFormat({QLatin1Char(';'), QLatin1Char(',')});
    QVERIFY(w.exportCsv(0, csv));
    const QByteArray first = contentOf(csv);
    QVERIFY(first.contains("VBAT (V)"));
    QVERIFY(first.contains(";7,01;"));
    // Another run to the same name from code: refused, the file kept.
    QVERIFY(!w.exportCsv(1, csv));
    QCOMPARE(contentOf(csv), first);
    QCOMPARE(m_boxes.size(), 1);
    QVERIFY(m_boxes[0].contains(QStringLiteral("existe déjà")));
    // A separator that is also the decimal point is refused.
    w.setCsvFormat({QLatin1Char(','), QLatin1Char(',')});
    QVERIFY(!w.exportCsv(0, out.filePath(QStringLiteral("b.csv"))));
    QVERIFY(!QFile::exists(out.filePath(QStringLiteral("b.csv"))));

    const QString png = out.filePath(QStringLiteral("g.png"));
    const QString pdf = out.filePath(QStringLiteral("g.pdf"));
    QVERIFY(w.exportPng(png));
    QVERIFY(w.exportPdf(pdf));
    QVERIFY(!QImage(png).isNull());
    QVERIFY(contentOf(pdf).startsWith("%PDF"));
    const QByteArray picture = contentOf(png);
    QVERIFY(!w.exportPng(png));
    QVERIFY(!w.exportPdf(png));
    QCOMPARE(contentOf(png), picture);
}

void TestVisionneuse::exportThroughTheDialog() {
    viewer::Visionneuse w{winkit::Host{}};
    QVERIFY(w.openFiles({m_a}));
    QTemporaryDir out;
    const QString csv = out.filePath(QStringLiteral("choisi.csv"));
    QFile f(csv);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("old");
    f.close();
    // The save dialog asked about replacing it and the user said yes.
    chlink::setFileHook([&csv](bool save, const QString &, const QString &, const QString &) {
        return save ? csv : QString();
    });
    w.findChild<QPushButton *>("CbCsv")->click();
    QVERIFY(contentOf(csv).startsWith("\xEF\xBB\xBFTemps écoulé (s)"));
    // Cancelled: nothing written.
    chlink::setFileHook(
        [](bool, const QString &, const QString &, const QString &) { return QString(); });
    w.findChild<QPushButton *>("CbPng")->click();
    QCOMPARE(QDir(out.path()).entryList(QDir::Files).size(), 1);
    QVERIFY(m_boxes.isEmpty());
}

void TestVisionneuse::namesThePack() {
    QTemporaryDir dir;
    const QString a = writeCharge(dir.filePath(QStringLiteral("St_CH_D12_01_26T09_00.txt")), 10, 1);
    const QString b = writeCharge(dir.filePath(QStringLiteral("St_CH_D12_02_26T09_00.txt")), 10, 1);
    modes::RunInfo info;
    info.window = QStringLiteral("Chargeur");
    info.setpoint = QStringLiteral("1.00 A");
    QVERIFY(modes::writeRunInfo(a, info));
    viewer::Visionneuse w{winkit::Host{}};
    QVERIFY(w.openFiles({a, b}));
    for (int i = 0; i < 2; ++i) {
        w.selectRun(i);
        w.findChild<QLineEdit *>("TxPack")->setText(QStringLiteral("Accu 7,2 V n°3"));
        QVERIFY(w.namePack());
    }
    QCOMPARE(modes::readRunInfo(a)->pack, QStringLiteral("Accu 7,2 V n°3"));
    QCOMPARE(modes::readRunInfo(a)->setpoint, QStringLiteral("1.00 A")); // the rest kept
    QCOMPARE(modes::readRunInfo(b)->pack, QStringLiteral("Accu 7,2 V n°3"));
    QVERIFY(w.findChild<QListWidget *>("ListeJournaux")
                ->item(1)
                ->text()
                .contains(QStringLiteral("n°3")));
    // The pack's history lists both runs of the folder.
    int rows = -1;
    QTimer::singleShot(0, &w, [&] {
        if (auto *d = w.findChild<QDialog *>(QStringLiteral("HistoriquePack"))) {
            rows = d->findChild<QTableWidget *>(QStringLiteral("TableHistorique"))->rowCount();
            d->reject();
        }
    });
    w.showPackHistory();
    QCOMPARE(rows, 2);
}

void TestVisionneuse::printsTheChart() {
    viewer::Visionneuse w{winkit::Host{}};
    w.show();
    QVERIFY(w.openFiles({m_a, m_b}));
    QTemporaryDir out;
    QPrinter printer;
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(out.filePath(QStringLiteral("print.pdf")));
    QVERIFY(w.printChart(printer));
    QVERIFY(contentOf(out.filePath(QStringLiteral("print.pdf"))).startsWith("%PDF"));
}

// A monitor log alone draws its battery and current counts; with a capacity log the curves
// offered are both logs' columns, and each run draws the columns it has.
void TestVisionneuse::otherKinds() {
    QTemporaryDir dir;
    const QString moni = dir.filePath(QStringLiteral("MOni_CHrg_D12_09_26T08_00.txt"));
    {
        QFile f(moni);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(modes::moni::logHeader().toUtf8() + "\r\n");
        for (int i = 0; i < 30; ++i) {
            modes::moni::Record r;
            r.prompt = 'C';
            r.temps = 28800 + 10 * i;
            r.vbat = 600 + i;
            r.cour = 300;
            r.temper = 400;
            f.write(modes::moni::logLine(r).toUtf8() + "\r\n");
        }
    }
    const QString capa = dir.filePath(QStringLiteral("Capa_Bat_D12_09_26T09_00.txt"));
    {
        modes::RunLog log;
        QVERIFY(log.open(capa, modes::headerLine(modes::capa::logColumns()), nullptr));
        for (int i = 1; i <= 20; ++i)
            log.append(modes::recordLine({2.0 * i, 30, 0, 1, 0, 2.0 * i, 7.2 - 0.02 * i,
                                          1.2 - 0.003 * i, 600, 40, 2.0 * i / 86400},
                                         QLatin1Char(',')));
        log.append(modes::capa::starLine());
    }
    viewer::Visionneuse w{winkit::Host{}};
    w.show();
    QVERIFY(w.openFiles({moni}));
    QCOMPARE(w.leftColumn(), QStringLiteral("VBat"));
    QCOMPARE(w.rightColumn(), QStringLiteral("Cour"));
    QCOMPARE(w.chart()->pointCount(0), 30);
    QVERIFY(w.findChild<QTableWidget *>("TableResume")->item(0, 5)->text().contains("brut"));
    QVERIFY(w.openFiles({capa}));
    w.setCurves(QStringLiteral("VBAT"), QStringLiteral("VBat"));
    QCOMPARE(w.chart()->pointCount(0), 30); // the monitor's VBat on the right
    QCOMPARE(w.chart()->pointCount(1), 20); // the capacity log's VBAT on the left
    QCOMPARE(w.chart()->pointCount(2), 0);
    QVERIFY(m_boxes.isEmpty());
    shot(w, "visionneuse_types", QSize(1180, 760));
}

QTEST_MAIN(TestVisionneuse)
#include "tst_visionneuse.moc"
