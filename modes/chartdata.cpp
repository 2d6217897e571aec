#include "chartdata.h"

#include "link/numtext.h"

#include <algorithm>
#include <cmath>

namespace modes {

void ChartSeries::append(double t, double v) {
    if (!std::isfinite(t) || !std::isfinite(v)) return;
    if (m_t.empty()) {
        m_min = m_max = v;
    } else {
        t = std::max(t, m_t.back());
        m_min = std::min(m_min, v);
        m_max = std::max(m_max, v);
    }
    m_t.push_back(t);
    m_v.push_back(float(v));
}

void ChartSeries::clear() {
    // Give the memory back: a cleared chart may stay open for a long time.
    std::vector<double>().swap(m_t);
    std::vector<float>().swap(m_v);
    m_min = m_max = 0;
}

std::size_t ChartSeries::lowerBound(double t) const {
    return std::size_t(std::lower_bound(m_t.begin(), m_t.end(), t) - m_t.begin());
}

std::size_t ChartSeries::nearest(double t) const {
    if (m_t.empty()) return 0;
    std::size_t i = lowerBound(t);
    if (i == m_t.size()) return i - 1;
    if (i > 0 && t - m_t[i - 1] <= m_t[i] - t) return i - 1;
    return i;
}

bool ChartSeries::valueRange(double t0, double t1, double &lo, double &hi) const {
    std::size_t i = lowerBound(t0);
    const std::size_t n = m_t.size();
    if (i >= n || m_t[i] > t1) return false;
    if (t0 <= m_t.front() && t1 >= m_t.back()) {
        lo = m_min;
        hi = m_max;
        return true;
    }
    float mn = m_v[i], mx = m_v[i];
    for (; i < n && m_t[i] <= t1; ++i) {
        mn = std::min(mn, m_v[i]);
        mx = std::max(mx, m_v[i]);
    }
    lo = mn;
    hi = mx;
    return true;
}

std::vector<ChartPoint> decimate(const ChartSeries &s, double t0, double t1, int columns) {
    std::vector<ChartPoint> out;
    const std::size_t n = s.size();
    if (n == 0 || columns <= 0 || !(t1 > t0)) return out;
    out.reserve(std::min(n, std::size_t(columns) * 2) + 2);
    std::size_t i = s.lowerBound(t0);
    if (i > 0) out.push_back({s.time(i - 1), s.value(i - 1)});

    const ColumnMap columnOf(t0, t1, columns);
    int col = -1;
    std::size_t iMin = 0, iMax = 0;
    double vMin = 0, vMax = 0;
    auto flush = [&] {
        if (col < 0) return;
        const std::size_t a = std::min(iMin, iMax), b = std::max(iMin, iMax);
        out.push_back({s.time(a), s.value(a)});
        if (b != a) out.push_back({s.time(b), s.value(b)});
    };
    for (; i < n; ++i) {
        const double t = s.time(i);
        if (t > t1) break;
        const double v = s.value(i);
        const int c = columnOf(t);
        if (c != col) {
            flush();
            col = c;
            iMin = iMax = i;
            vMin = vMax = v;
        } else if (v < vMin) {
            iMin = i;
            vMin = v;
        } else if (v > vMax) {
            iMax = i;
            vMax = v;
        }
    }
    flush();
    if (i < n) out.push_back({s.time(i), s.value(i)});
    return out;
}

namespace {

constexpr double kMinute = 60, kHour = 3600, kDay = 86400, kWeek = 7 * kDay;

const double kTimeSteps[] = {
    1,        2,           5,           10,           15,           30,
    kMinute,  2 * kMinute, 5 * kMinute, 10 * kMinute, 15 * kMinute, 30 * kMinute,
    kHour,    2 * kHour,   3 * kHour,   6 * kHour,    12 * kHour,   kDay,
    2 * kDay, kWeek,       2 * kWeek};

} // namespace

double timeTickStep(double span, int maxTicks) {
    maxTicks = std::max(1, maxTicks);
    if (!(span > 0)) return 1;
    for (double step : kTimeSteps)
        if (span / step <= maxTicks) return step;
    // Beyond a few months: 5, 10, 20, 50, 100... weeks.
    for (double base = 1; base < 1e6; base *= 10)
        for (double m : {5.0, 10.0, 20.0})
            if (span / (m * base * kWeek) <= maxTicks) return m * base * kWeek;
    return span / maxTicks;
}

std::vector<double> timeTicks(double t0, double t1, double step) {
    std::vector<double> ticks;
    if (!(step > 0) || !(t1 >= t0)) return ticks;
    const double eps = step * 1e-9;
    for (double k = std::ceil(t0 / step - 1e-9); k * step <= t1 + eps && ticks.size() < 1000; ++k)
        ticks.push_back(k * step);
    return ticks;
}

namespace {

QString twoDigits(long long v) {
    return QStringLiteral("%1").arg(v, 2, 10, QLatin1Char('0'));
}

} // namespace

QString timeLabel(double seconds, double step) {
    const long long s = std::llround(std::max(0.0, seconds));
    if (step >= kDay) {
        const long long days = s / 86400, rest = s % 86400;
        if (rest == 0) return QStringLiteral("%1 j").arg(days);
        return QStringLiteral("%1 j %2:%3")
            .arg(days)
            .arg(rest / 3600)
            .arg(twoDigits(rest % 3600 / 60));
    }
    const long long h = s / 3600, m = s % 3600 / 60, sec = s % 60;
    if (step < kMinute) return QStringLiteral("%1:%2:%3").arg(h).arg(twoDigits(m), twoDigits(sec));
    return QStringLiteral("%1:%2").arg(h).arg(twoDigits(m));
}

QString timeReadout(double seconds) {
    return timeLabel(seconds, 1);
}

QString timeAxisTitle(double step) {
    if (step >= kDay) return QStringLiteral("Temps (jours)");
    if (step < kMinute) return QStringLiteral("Temps (h:min:s)");
    return QStringLiteral("Temps (h:min)");
}

double nextTimeEnd(double t) {
    if (!(t >= kMinute)) return kMinute;
    const double target = t * 1.25;
    const double step = timeTickStep(target, 6);
    return std::ceil(target / step) * step;
}

namespace {

// The smallest round step (1, 2, 2.5, 5 times a power of ten) not below x.
double roundStepAtLeast(double x) {
    if (!(x > 0)) return 1;
    const double p = std::pow(10.0, std::floor(std::log10(x)));
    for (double m : {1.0, 2.0, 2.5, 5.0, 10.0})
        if (m * p >= x * (1 - 1e-9)) return m * p;
    return 10 * p;
}

double nextRoundStep(double step) {
    return roundStepAtLeast(step * 1.0001);
}

// A single value or an empty range gets some room around it.
void widen(double &lo, double &hi) {
    if (hi > lo) return;
    const double pad = std::max(std::fabs(hi) * 0.05, 0.5);
    lo -= pad;
    hi += pad;
}

// A little room so that a curve on the highest or lowest value does not run along the frame,
// but never below zero for data that is not.
void addMargin(double &lo, double &hi) {
    widen(lo, hi);
    const double margin = (hi - lo) * 0.02;
    lo = (lo >= 0 && lo - margin < 0) ? 0 : lo - margin;
    hi = (hi <= 0 && hi + margin > 0) ? 0 : hi + margin;
}

} // namespace

int ValueScale::intervals() const {
    return step > 0 ? int(std::lround((hi - lo) / step)) : 0;
}

ValueScale niceScale(double lo, double hi, int maxIntervals) {
    maxIntervals = std::max(1, maxIntervals);
    addMargin(lo, hi);
    double step = roundStepAtLeast((hi - lo) / maxIntervals);
    for (int k = 0; k < 100; ++k, step = nextRoundStep(step)) {
        const double slo = std::floor(lo / step + 1e-9) * step;
        const double shi = std::ceil(hi / step - 1e-9) * step;
        if (std::lround((shi - slo) / step) <= maxIntervals) return {slo, shi, step};
    }
    return {lo, hi, (hi - lo) / maxIntervals};
}

namespace {

ValueScale alignedFit(double lo, double hi, int intervals) {
    double step = roundStepAtLeast((hi - lo) / intervals);
    for (int k = 0; k < 100; ++k, step = nextRoundStep(step)) {
        const double slo = std::floor(lo / step + 1e-9) * step;
        const double shi = slo + intervals * step;
        if (shi >= hi - step * 1e-9) return {slo, shi, step};
    }
    return {lo, hi, (hi - lo) / intervals};
}

} // namespace

ValueScale alignedScale(double lo, double hi, int intervals) {
    intervals = std::max(1, intervals);
    widen(lo, hi);
    // Room around the data unless it costs a coarser step: with a fixed number of steps that
    // could leave half the height empty.
    const ValueScale tight = alignedFit(lo, hi, intervals);
    addMargin(lo, hi);
    const ValueScale roomy = alignedFit(lo, hi, intervals);
    return roomy.step <= tight.step * (1 + 1e-9) ? roomy : tight;
}

QString valueLabel(double v, double step) {
    int decimals = 0;
    for (; decimals < 6; ++decimals) {
        const double x = step * std::pow(10.0, decimals);
        if (std::fabs(x - std::round(x)) < 1e-6 * std::max(1.0, x)) break;
    }
    // Anything that prints as zero prints without a sign.
    if (std::fabs(v) < 0.5 * std::pow(10.0, -decimals)) v = 0;
    const QString text = QString::number(v, 'f', decimals);
    return text;
}

QString readoutValue(double v) {
    return chlink::fixedText(v, 5, 6);
}

} // namespace modes
