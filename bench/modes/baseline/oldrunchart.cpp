#include "oldrunchart.h"

#include <QChart>
#include <QChartView>
#include <QGraphicsLayout>
#include <QLineSeries>
#include <QVBoxLayout>
#include <QValueAxis>
#include <cmath>

namespace baseline {

OldRunChart::OldRunChart(const QString &title, const QString &leftTitle, const QString &rightTitle,
                         QWidget *parent)
    : QWidget(parent), m_chart(new QChart) {
    m_chart->setTitle(title);
    m_chart->legend()->setAlignment(Qt::AlignBottom);
    m_chart->setMargins(QMargins(4, 4, 4, 4));
    m_chart->layout()->setContentsMargins(0, 0, 0, 0);

    m_time = new QValueAxis;
    m_time->setTitleText(QStringLiteral("min"));
    m_time->setLabelFormat(QStringLiteral("%g"));
    m_time->setRange(0, 1);
    m_time->setTickType(QValueAxis::TicksDynamic);
    m_time->setTickAnchor(0);
    m_time->setTickInterval(1);
    m_chart->addAxis(m_time, Qt::AlignBottom);
    const QString titles[2] = {leftTitle, rightTitle};
    for (int i = 0; i < 2; ++i) {
        m_axis[i] = new QValueAxis;
        m_axis[i]->setTitleText(titles[i]);
        m_axis[i]->setLabelFormat(QStringLiteral("%g"));
        m_axis[i]->setRange(0, 1);
        m_chart->addAxis(m_axis[i], i == 0 ? Qt::AlignLeft : Qt::AlignRight);
    }

    m_view = new QChartView(m_chart, this);
    m_view->setRenderHint(QPainter::Antialiasing);
    m_view->setMinimumSize(360, 220);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_view);
}

int OldRunChart::addCurve(const QString &name, Side side, const QColor &colour) {
    auto *s = new QLineSeries;
    s->setName(name);
    s->setColor(colour);
    m_chart->addSeries(s);
    s->attachAxis(m_time);
    s->attachAxis(m_axis[side]);
    m_curves.push_back({s, side});
    return int(m_curves.size()) - 1;
}

void OldRunChart::append(int curve, double seconds, std::optional<double> value) {
    if (curve < 0 || curve >= int(m_curves.size()) || !value || !std::isfinite(*value)) return;
    const Curve &c = m_curves[size_t(curve)];
    const double minutes = seconds / 60.0;
    c.series->append(minutes, *value);
    Range &r = m_range[c.side];
    if (r.empty) {
        r = {false, *value, *value};
    } else {
        r.lo = std::min(r.lo, *value);
        r.hi = std::max(r.hi, *value);
    }
    fit(m_axis[c.side], r, false);
    if (minutes > m_maxMinutes) {
        m_maxMinutes = minutes;
        // Room ahead so the axis does not move at every point, ticks on round minutes.
        double top = std::max(1.0, std::ceil(m_maxMinutes * 1.1));
        double step = 1;
        for (double s : {1.0, 2.0, 5.0, 10.0, 15.0, 30.0, 60.0, 120.0, 240.0, 480.0}) {
            step = s;
            if (top / s <= 8) break;
        }
        top = std::ceil(top / step) * step;
        m_time->setRange(0, top);
        m_time->setTickInterval(step);
    }
}

void OldRunChart::fit(QValueAxis *axis, const Range &r, bool fromZero) {
    double lo = fromZero ? std::min(0.0, r.lo) : r.lo;
    double hi = r.hi;
    const double span = hi - lo;
    const double pad = span > 0 ? span * 0.08 : std::max(0.5, std::fabs(hi) * 0.05);
    lo -= pad;
    hi += pad;
    if (axis->min() > lo || axis->max() < hi || axis->max() - axis->min() > 4 * (hi - lo))
        axis->setRange(lo, hi);
    axis->applyNiceNumbers();
}

void OldRunChart::clear() {
    for (const Curve &c : m_curves)
        c.series->clear();
    m_range[0] = m_range[1] = Range{};
    m_maxMinutes = 0;
    m_time->setRange(0, 1);
    m_time->setTickInterval(1);
    m_axis[0]->setRange(0, 1);
    m_axis[1]->setRange(0, 1);
}

int OldRunChart::pointCount(int curve) const {
    if (curve < 0 || curve >= int(m_curves.size())) return 0;
    return int(m_curves[size_t(curve)].series->count());
}

void OldRunChart::preload(int curve, const std::vector<std::pair<double, double>> &points) {
    if (points.empty()) return;
    const Curve &c = m_curves[size_t(curve)];
    QList<QPointF> list;
    list.reserve(qsizetype(points.size()));
    Range &r = m_range[c.side];
    for (size_t i = 0; i + 1 < points.size(); ++i) {
        list.append(QPointF(points[i].first / 60.0, points[i].second));
        r = r.empty
                ? Range{false, points[i].second, points[i].second}
                : Range{false, std::min(r.lo, points[i].second), std::max(r.hi, points[i].second)};
    }
    c.series->replace(list);
    append(curve, points.back().first, points.back().second);
}

} // namespace baseline
