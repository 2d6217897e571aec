// What a run chart costs the GUI thread and the memory after hours of one point per second,
// five curves on one chart: the chart as the windows use it (modes::RunChart) against the
// previous one (a series of chart points per curve, axes refitted at every point), copied in
// baseline/ and measured in the same run.
//
// Each case runs in a child process of its own so that its memory is measured alone:
//   bench_runchart [--repeat N] [--hours 1,4,12,24]    every case, best of N, as a table
//   bench_runchart --case new|old HOURS                 one case, one line
//   bench_runchart --picture FILE.png SECONDS [WxH [T0:T1]]
//                 the new chart after that much of a capacity cycle (zoomed on T0 to T1
//                 seconds), the mouse over the plot
//
// Times are the GUI thread's CPU time (the redraw's wall time is shown too).
// per point:  append one point to each of the five curves, then bring the picture up to date
//             (the redraw the chart's timer would run, then the widget painted), averaged;
// redraw:     the chart resized by one pixel and painted again, everything recomputed;
// memory:     growth of the resident set from the empty chart to the filled, painted one.
// The old chart is filled with all points at once (appending them one by one would take
// hours), then measured point by point from there like the new one.
#include "baseline/oldrunchart.h"
#include "modes/runchart.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMouseEvent>
#include <QProcess>
#include <QTextStream>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <unistd.h>

namespace {

constexpr int kCurves = 5;

// A charge-like run: rising voltage, a current with ripple, a delta count, its peak,
// a slowly warming temperature.
double sample(int curve, int t) {
    const double x = t / 3600.0;
    switch (curve) {
    case 0:
        return 7.2 + 1.2 * (1 - std::exp(-x / 3)) + 0.004 * std::sin(t * 0.37);
    case 1:
        return 2.0 + 0.05 * std::sin(t * 1.3) + ((t % 600) < 5 ? -1.5 : 0);
    case 2:
        return 500 + 300 * std::sin(x / 2) + 3 * std::sin(t * 0.11);
    case 3:
        return 500 + 300 * std::min(1.0, x / 6);
    default:
        return 21 + 12 * (1 - std::exp(-x / 5)) + 0.2 * std::sin(t * 0.05);
    }
}

double residentMB() {
    QFile f(QStringLiteral("/proc/self/statm"));
    if (!f.open(QIODevice::ReadOnly)) return 0;
    const QList<QByteArray> fields = f.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toDouble() * double(sysconf(_SC_PAGESIZE)) / 1048576.0 : 0;
}

// Time the GUI thread spent on the CPU: what the chart costs it, and unlike the wall clock
// not inflated by other programs sharing the machine.
class ThreadClock {
  public:
    void start() {
        m_cpu = now();
        m_wall.start();
    }
    double ms() const { return (now() - m_cpu) / 1e6; }
    double wallMs() const { return double(m_wall.nsecsElapsed()) / 1e6; }

  private:
    static double now() {
        timespec ts{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        return double(ts.tv_sec) * 1e9 + double(ts.tv_nsec);
    }
    double m_cpu = 0;
    QElapsedTimer m_wall;
};

struct Result {
    double fillSeconds = 0, pointMean = 0, pointMax = 0, redraw = 0, redrawWall = 0, megabytes = 0;
};

template <class Chart> void addCurves(Chart &chart) {
    chart.addCurve(QStringLiteral("V Batterie"), Chart::Left, QColor(0x1f, 0x5f, 0xbf));
    chart.addCurve(QStringLiteral("I Charge"), Chart::Right, QColor(0xc0, 0x30, 0x30));
    chart.addCurve(QStringLiteral("V Delta"), Chart::Left, QColor(0x20, 0x90, 0x40));
    chart.addCurve(QStringLiteral("Pic"), Chart::Left, QColor(0x90, 0x90, 0x90));
    chart.addCurve(QStringLiteral("Température"), Chart::Right, QColor(0xd0, 0x80, 0x10));
}

void fill(modes::RunChart &chart, int points) {
    for (int t = 0; t < points; ++t)
        for (int c = 0; c < kCurves; ++c)
            chart.append(c, t, sample(c, t));
}

void fill(baseline::OldRunChart &chart, int points) {
    for (int c = 0; c < kCurves; ++c) {
        std::vector<std::pair<double, double>> v;
        v.reserve(size_t(points));
        for (int t = 0; t < points; ++t)
            v.emplace_back(t, sample(c, t));
        chart.preload(c, v);
    }
}

// What the chart's timer does between two points.
void bringUpToDate(modes::RunChart &chart) {
    chart.refresh();
}
void bringUpToDate(baseline::OldRunChart &) {}

template <class Chart> Result measure(int hours, int pointSamples, int redrawSamples) {
    Result r;
    Chart chart(QStringLiteral("Banc"), QStringLiteral("V"), QStringLiteral("A"));
    addCurves(chart);
    chart.resize(700, 320);
    chart.show();
    QCoreApplication::processEvents();
    chart.repaint();
    const double before = residentMB();

    const int points = hours * 3600;
    ThreadClock timer;
    timer.start();
    fill(chart, points);
    bringUpToDate(chart);
    QCoreApplication::processEvents();
    chart.repaint();
    r.fillSeconds = timer.ms() / 1000;
    r.megabytes = residentMB() - before;

    double total = 0;
    for (int k = 0; k < pointSamples; ++k) {
        const int t = points + k;
        timer.start();
        for (int c = 0; c < kCurves; ++c)
            chart.append(c, t, sample(c, t));
        bringUpToDate(chart);
        QCoreApplication::processEvents();
        chart.repaint();
        const double one = timer.ms();
        total += one;
        r.pointMax = std::max(r.pointMax, one);
    }
    r.pointMean = total / pointSamples;

    r.redraw = r.redrawWall = 1e300;
    for (int k = 0; k < redrawSamples; ++k) {
        timer.start();
        chart.resize(700 + (k % 2 == 0 ? 1 : 0), 320);
        QCoreApplication::processEvents();
        chart.repaint();
        r.redraw = std::min(r.redraw, timer.ms());
        r.redrawWall = std::min(r.redrawWall, timer.wallMs());
    }
    return r;
}

// A capacity cycle for pictures: charge at 2 A, pause, discharge at 2 A to the end voltage,
// pause, recharge; the pack voltage follows with its peak at the end of charge.
std::pair<double, double> cycle(int t, int seconds) {
    const double x = double(t) / seconds; // 0..1 over the run
    const double ripple = 0.003 * std::sin(t * 0.9);
    if (x < 0.35)
        return {7.2 + 1.3 * std::sqrt(x / 0.35) - 0.1 * std::max(0.0, x - 0.33) / 0.02 + ripple,
                2.0};
    if (x < 0.4) return {8.3 - 0.3 * (x - 0.35) / 0.05, 0.0};
    if (x < 0.75) return {7.9 - 0.9 * std::pow((x - 0.4) / 0.35, 3) - 0.2 + ripple, -2.0};
    if (x < 0.8) return {6.8 + 0.4 * (x - 0.75) / 0.05, 0.0};
    return {7.2 + 0.9 * std::sqrt((x - 0.8) / 0.2) + ripple, 2.0};
}

int picture(const QString &path, int seconds, QSize size, const QString &zoom) {
    modes::RunChart chart(QStringLiteral("Batterie"), QStringLiteral("V"), QStringLiteral("A"));
    chart.addCurve(QStringLiteral("V Batterie"), modes::RunChart::Left, QColor(0x1f, 0x5f, 0xbf));
    chart.addCurve(QStringLiteral("I Batterie"), modes::RunChart::Right, QColor(0xc0, 0x30, 0x30));
    chart.resize(size);
    chart.show();
    for (int t = 0; t <= seconds; ++t) {
        const auto [v, i] = cycle(t, std::max(1, seconds));
        chart.append(0, t, v);
        chart.append(1, t, i);
    }
    const QStringList span = zoom.split(QLatin1Char(':'));
    if (span.size() == 2) chart.zoomTo(span[0].toDouble(), span[1].toDouble());
    chart.grab();
    const QPointF middle(chart.width() * 0.45, chart.height() * 0.45);
    QMouseEvent move(QEvent::MouseMove, middle, chart.mapToGlobal(middle), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&chart, &move);
    return chart.grab().save(path) ? 0 : 1;
}

int runCase(const QString &which, int hours) {
    const bool old = which == QLatin1String("old");
    // The old chart takes a long time per point at many hours: fewer samples.
    const Result r = old ? measure<baseline::OldRunChart>(hours, hours >= 12 ? 8 : 20, 4)
                         : measure<modes::RunChart>(hours, 600, 10);
    std::printf("%s %d %.3f %.3f %.3f %.3f %.1f %.1f\n", qPrintable(which), hours, r.pointMean,
                r.pointMax, r.redraw, r.redrawWall, r.megabytes, r.fillSeconds);
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.size() == 3 && args[0] == QLatin1String("--case"))
        return runCase(args[1], args[2].toInt());
    if (args.size() >= 3 && args[0] == QLatin1String("--picture")) {
        const QStringList wh = args.value(3, QStringLiteral("700x320")).split(QLatin1Char('x'));
        return picture(args[1], args[2].toInt(), QSize(wh.value(0).toInt(), wh.value(1).toInt()),
                       args.value(4));
    }

    int repeat = 1;
    QList<int> hours{1, 4, 12, 24};
    for (int i = 0; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--repeat")) repeat = std::max(1, args[i + 1].toInt());
        if (args[i] == QLatin1String("--hours")) {
            hours.clear();
            for (const QString &h : args[i + 1].split(QLatin1Char(',')))
                hours << h.toInt();
        }
    }

    QTextStream out(stdout);
    out << "five curves, one point per second each, chart 700x320 (offscreen); best of " << repeat
        << "\n";
    out << "GUI thread CPU time; the redraw's wall time too (the machine may be shared)\n";
    out << "hours  chart   ms/point mean      max   ms/redraw   (wall)      MB   fill s\n";
    for (int h : hours) {
        for (const QString &which : {QStringLiteral("old"), QStringLiteral("new")}) {
            Result best{1e300, 1e300, 1e300, 1e300, 1e300, 1e300};
            bool ok = false;
            for (int k = 0; k < repeat; ++k) {
                QProcess child;
                child.start(QCoreApplication::applicationFilePath(),
                            {QStringLiteral("--case"), which, QString::number(h)});
                if (!child.waitForFinished(3600 * 1000) || child.exitCode() != 0) continue;
                const QStringList f =
                    QString::fromLatin1(child.readAllStandardOutput()).simplified().split(' ');
                if (f.size() < 8) continue;
                ok = true;
                best.pointMean = std::min(best.pointMean, f[2].toDouble());
                best.pointMax = std::min(best.pointMax, f[3].toDouble());
                best.redraw = std::min(best.redraw, f[4].toDouble());
                best.redrawWall = std::min(best.redrawWall, f[5].toDouble());
                best.megabytes = std::min(best.megabytes, f[6].toDouble());
                best.fillSeconds = std::min(best.fillSeconds, f[7].toDouble());
            }
            if (!ok) {
                out << qSetFieldWidth(5) << h << qSetFieldWidth(0) << "  " << which << "  failed\n";
                continue;
            }
            out << QString::asprintf("%5d  %-5s  %13.3f %8.3f %11.3f %8.3f  %6.1f  %7.1f\n", h,
                                     qPrintable(which), best.pointMean, best.pointMax, best.redraw,
                                     best.redrawWall, best.megabytes, best.fillSeconds);
            out.flush();
        }
    }
    return 0;
}
