#pragma once

#include <QColor>
#include <QString>
#include <QWidget>
#include <optional>
#include <vector>

class QChart;
class QChartView;
class QLineSeries;
class QValueAxis;

// A live chart of a run against elapsed minutes: a few curves, each on the left or the
// right value axis, whose ranges grow with the data.
namespace modes {

class RunChart : public QWidget {
    Q_OBJECT
  public:
    enum Side { Left, Right };

    RunChart(const QString &title, const QString &leftTitle, const QString &rightTitle,
             QWidget *parent = nullptr);

    // Returns the curve's index for append().
    int addCurve(const QString &name, Side side, const QColor &colour);
    // A point at the elapsed time; a value never computed adds nothing.
    void append(int curve, double seconds, std::optional<double> value);
    void clear();

    int pointCount(int curve) const;

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

} // namespace modes
