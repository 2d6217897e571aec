#pragma once

#include <QColor>
#include <QString>
#include <QWidget>
#include <optional>
#include <utility>
#include <vector>

class QChart;
class QChartView;
class QLineSeries;
class QValueAxis;

// The run chart as it was before it kept its data in arrays and drew a reduced copy: a
// QLineSeries per curve holding every point, axes refitted at every point. Kept unchanged
// (but for its name and preload()) as the benchmark's baseline.
namespace baseline {

class OldRunChart : public QWidget {
    Q_OBJECT
  public:
    enum Side { Left, Right };

    OldRunChart(const QString &title, const QString &leftTitle, const QString &rightTitle,
                QWidget *parent = nullptr);

    // Returns the curve's index for append().
    int addCurve(const QString &name, Side side, const QColor &colour);
    // A point at the elapsed time; a value never computed adds nothing.
    void append(int curve, double seconds, std::optional<double> value);
    void clear();

    int pointCount(int curve) const;

    // Benchmark only: the points of many hours at once (seconds, value), as if appended
    // one by one, without waiting hours for the appends.
    void preload(int curve, const std::vector<std::pair<double, double>> &points);

  private:
    struct Curve {
        QLineSeries *series;
        Side side;
    };
    struct Range {
        bool empty = true;
        double lo = 0, hi = 1;
    };
    void fit(QValueAxis *axis, const Range &r, bool fromZero);

    QChart *m_chart;
    QChartView *m_view;
    QValueAxis *m_time;
    QValueAxis *m_axis[2];
    std::vector<Curve> m_curves;
    Range m_range[2];
    double m_maxMinutes = 0;
};

} // namespace baseline
