#pragma once

#include <QString>
#include <algorithm>
#include <cstddef>
#include <vector>

// What a run chart keeps and how it chooses what to draw: the full history of a curve in
// two compact arrays, a copy of it reduced to what a given number of pixel columns can show,
// and round ticks for the time axis (a minute to weeks) and for value axes that share one
// grid. No widget here: the chart window draws what these give.
namespace modes {

struct ChartPoint {
    double t; // seconds since the run began
    double v;
};

// One curve's points in time order. Values are kept as float: a measurement has far fewer
// significant digits, and a day at one point per second stays near 1 MB per curve.
class ChartSeries {
  public:
    // A time earlier than the last point's is taken as the last point's time, so that the
    // store stays ordered (a clock that steps back never hides the points after it).
    void append(double t, double v);
    void clear();

    std::size_t size() const { return m_t.size(); }
    bool empty() const { return m_t.empty(); }
    double time(std::size_t i) const { return m_t[i]; }
    double value(std::size_t i) const { return double(m_v[i]); }
    double minValue() const { return m_min; }
    double maxValue() const { return m_max; }

    // Index of the first point at or after t (size() when none).
    std::size_t lowerBound(double t) const;
    // Index of the point nearest in time to t; size() for an empty series.
    std::size_t nearest(double t) const;
    // Lowest and highest value among the points with t0 <= t <= t1; false when none.
    bool valueRange(double t0, double t1, double &lo, double &hi) const;

  private:
    std::vector<double> m_t;
    std::vector<float> m_v;
    double m_min = 0, m_max = 0;
};

// The points to draw for [t0, t1] spread over `columns` pixel columns: in each column the
// lowest and the highest point, in time order (one point when they are the same), so that
// no column holds more than two points and no extreme is lost. The last point before t0
// and the first after t1 are added so that the line runs to the plot's edges.
std::vector<ChartPoint> decimate(const ChartSeries &s, double t0, double t1, int columns);

// Column of time t in a decimation of [t0, t1] over `columns` columns.
class ColumnMap {
  public:
    ColumnMap(double t0, double t1, int columns)
        : m_t0(t0), m_perSecond(t1 > t0 && columns > 0 ? columns / (t1 - t0) : 0),
          m_last(std::max(0, columns - 1)) {}
    int operator()(double t) const {
        const double c = (t - m_t0) * m_perSecond;
        if (!(c >= 0)) return 0;
        return c >= m_last ? m_last : int(c);
    }

  private:
    double m_t0, m_perSecond;
    int m_last;
};
inline int columnOf(double t, double t0, double t1, int columns) {
    return ColumnMap(t0, t1, columns)(t);
}

// Time axis. Steps are round in seconds (1, 2, 5, 10, 15, 30), minutes (1, 2, 5, 10, 15, 30),
// hours (1, 2, 3, 6, 12), days (1, 2) and weeks (1, 2, 5, 10, ...).
double timeTickStep(double span, int maxTicks);
// Multiples of the step within [t0, t1].
std::vector<double> timeTicks(double t0, double t1, double step);
// A tick's label for that step: "1:30" (minutes:seconds), "2:15:00", "5:30" (hours:minutes),
// "3 j 6:00", "14 j".
QString timeLabel(double seconds, double step);
// The same form to the second, for a read-out.
QString timeReadout(double seconds);
// The axis caption that goes with the step's labels.
QString timeAxisTitle(double step);
// The end of the time axis once a point at t has gone past the current end: a round value
// a good way ahead, so that the axis moves in steps (never less than a minute).
double nextTimeEnd(double t);

// Value axes: lo + k * step for k = 0..intervals.
struct ValueScale {
    double lo = 0, hi = 1, step = 0.25;
    int intervals() const;
    // Within the scale, give or take rounding.
    bool contains(double v) const {
        const double eps = (hi - lo) * 1e-6;
        return v >= lo - eps && v <= hi + eps;
    }
};
// Round steps: 1, 2, 2.5, 5 times a power of ten.
// The scale with the fewest round steps (at most maxIntervals) that holds [lo, hi] with a
// small margin.
ValueScale niceScale(double lo, double hi, int maxIntervals);
// A scale of exactly `intervals` round steps that holds [lo, hi], so that a second axis
// puts its ticks on the first one's grid lines.
ValueScale alignedScale(double lo, double hi, int intervals);
// Tick label with as many decimals as the step needs ("-0" never shows).
QString valueLabel(double v, double step);
// A measured value in a read-out: five significant digits, no trailing zeros ("7.2034",
// "576.12", "2").
QString readoutValue(double v);

} // namespace modes
