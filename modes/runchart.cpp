#include "runchart.h"

#include "link/messages.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QImage>
#include <QMouseEvent>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStandardPaths>
#include <algorithm>
#include <cmath>

namespace modes {

namespace {

// Points arriving within this time are drawn together.
constexpr int kRedrawMs = 200;
// Value axes: at most this many grid intervals.
constexpr int kMaxIntervals = 6;
// A drag shorter than this (pixels) is a click, not a zoom.
constexpr int kMinDrag = 5;
// The read-out shows a curve's point when it lies within this many pixels of the mouse.
constexpr double kReadoutReach = 8;

const QColor kGrid(0xe2, 0xe2, 0xe2);
const QColor kFrame(0x70, 0x70, 0x70);
const QColor kText(0x20, 0x20, 0x20);

QRectF curveClip(const QRectF &plot) {
    return plot.adjusted(-1, -1, 1, 1);
}

// The widget's font with a size in pixels, so that a PDF page scales it like everything else.
QFont pixelFont(const QFont &base) {
    QFont f = base;
    f.setPixelSize(std::max(8, QFontInfo(base).pixelSize()));
    return f;
}

} // namespace

RunChart::RunChart(const QString &title, const QString &leftTitle, const QString &rightTitle,
                   QWidget *parent)
    : QWidget(parent), m_title(title), m_axisTitle{leftTitle, rightTitle} {
    setMinimumSize(360, 220);
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_redraw.setSingleShot(true);
    m_redraw.setInterval(kRedrawMs);
    connect(&m_redraw, &QTimer::timeout, this, &RunChart::refresh);

    // Reached by Tab too: its menu (the Menu key, Shift+F10) is the way to its exports.
    setFocusPolicy(Qt::StrongFocus);
    setAccessibleName(title.isEmpty() ? QStringLiteral("Graphique")
                                      : QStringLiteral("Graphique : ") + title);
    setContextMenuPolicy(Qt::ActionsContextMenu);
    m_actWhole = new QAction(QStringLiteral("Vue entière"), this);
    m_actWhole->setObjectName(QStringLiteral("actVueEntiere"));
    m_actWhole->setEnabled(false);
    connect(m_actWhole, &QAction::triggered, this, &RunChart::resetZoom);
    auto *separator = new QAction(this);
    separator->setSeparator(true);
    auto *png = new QAction(QStringLiteral("Exporter en image PNG…"), this);
    png->setObjectName(QStringLiteral("actExportPng"));
    connect(png, &QAction::triggered, this, [this] { exportImage(false); });
    auto *pdf = new QAction(QStringLiteral("Exporter en PDF…"), this);
    pdf->setObjectName(QStringLiteral("actExportPdf"));
    connect(pdf, &QAction::triggered, this, [this] { exportImage(true); });
    addActions({m_actWhole, separator, png, pdf});
    rescale();
}

int RunChart::addCurve(const QString &name, Side side, const QColor &colour) {
    m_curves.push_back({name, side, colour, {}, 0});
    rescale();
    invalidate();
    update();
    return int(m_curves.size()) - 1;
}

void RunChart::setCurveName(int curve, const QString &name) {
    if (curve < 0 || curve >= int(m_curves.size()) || m_curves[size_t(curve)].name == name) return;
    m_curves[size_t(curve)].name = name;
    invalidate();
    update();
}

void RunChart::append(int curve, double seconds, std::optional<double> value) {
    if (curve < 0 || curve >= int(m_curves.size()) || !value || !std::isfinite(*value) ||
        !std::isfinite(seconds))
        return;
    Curve &c = m_curves[size_t(curve)];
    c.data.append(seconds, *value);
    const double t = c.data.time(c.data.size() - 1);
    bool moved = false;
    if (t > m_fullEnd) {
        m_fullEnd = nextTimeEnd(t);
        moved = !m_zoomed;
    }
    // The value as stored, which the scales were fitted to.
    const double v = c.data.value(c.data.size() - 1);
    if (t >= viewStart() && t <= viewEnd() && (!m_scaled[c.side] || !m_scale[c.side].contains(v))) {
        rescale();
        moved = true;
    }
    if (moved) invalidate();
    if (!m_redraw.isActive()) m_redraw.start();
}

void RunChart::clear() {
    for (Curve &c : m_curves) {
        c.data.clear();
        c.drawn = 0;
    }
    m_fullEnd = 60;
    m_zoomed = false;
    m_actWhole->setEnabled(false);
    rescale();
    invalidate();
    update();
}

int RunChart::pointCount(int curve) const {
    if (curve < 0 || curve >= int(m_curves.size())) return 0;
    return int(m_curves[size_t(curve)].data.size());
}

double RunChart::viewStart() const {
    return m_zoomed ? m_zoom0 : 0;
}
double RunChart::viewEnd() const {
    return m_zoomed ? m_zoom1 : m_fullEnd;
}

void RunChart::zoomTo(double t0, double t1) {
    if (!std::isfinite(t0) || !std::isfinite(t1)) return;
    if (t1 < t0) std::swap(t0, t1);
    t0 = std::max(0.0, t0);
    // Never narrower than a few seconds: points are a second apart.
    const double minSpan = 4;
    if (t1 - t0 < minSpan) {
        const double mid = (t0 + t1) / 2;
        t0 = std::max(0.0, mid - minSpan / 2);
        t1 = t0 + minSpan;
    }
    m_zoomed = true;
    m_zoom0 = t0;
    m_zoom1 = t1;
    m_actWhole->setEnabled(true);
    rescale();
    invalidate();
    update();
}

void RunChart::resetZoom() {
    if (!m_zoomed) return;
    m_zoomed = false;
    m_actWhole->setEnabled(false);
    rescale();
    invalidate();
    update();
}

bool RunChart::hasCurves(Side side) const {
    return std::any_of(m_curves.begin(), m_curves.end(),
                       [side](const Curve &c) { return c.side == side; });
}

// Both value axes from the data in view: the left one (or the right one when the left has
// nothing) chooses its round steps, the other takes as many steps so that its ticks fall on
// the same grid lines.
void RunChart::rescale() {
    double lo[2] = {0, 0}, hi[2] = {1, 1};
    bool has[2] = {false, false};
    const double t0 = viewStart(), t1 = viewEnd();
    for (const Curve &c : m_curves) {
        double a = 0, b = 0;
        if (m_zoomed ? !c.data.valueRange(t0, t1, a, b) : c.data.empty()) continue;
        if (!m_zoomed) {
            a = c.data.minValue();
            b = c.data.maxValue();
        }
        const int s = c.side;
        lo[s] = has[s] ? std::min(lo[s], a) : a;
        hi[s] = has[s] ? std::max(hi[s], b) : b;
        has[s] = true;
    }
    const int lead = (has[Left] || !has[Right]) ? Left : Right;
    const int other = 1 - lead;
    m_scale[lead] =
        has[lead] ? niceScale(lo[lead], hi[lead], kMaxIntervals) : ValueScale{0, 1, 0.25};
    m_scale[other] = alignedScale(lo[other], hi[other], m_scale[lead].intervals());
    m_scaled[Left] = has[Left];
    m_scaled[Right] = has[Right];
}

void RunChart::invalidate() {
    m_cacheValid = false;
}

RunChart::Frame RunChart::frameFor(const QSizeF &size) const {
    const QFontMetricsF fm(pixelFont(font()));
    const double line = fm.height();
    Frame f;
    f.titleHeight = m_title.isEmpty() ? line * 0.5 : line * 1.6;
    double sideWidth[2];
    for (int s = 0; s < 2; ++s) {
        if (!hasCurves(Side(s)) && s == Right) {
            sideWidth[s] = fm.horizontalAdvance(QStringLiteral("00:00")) / 2 + 6;
            continue;
        }
        double widest = 0;
        const ValueScale &sc = m_scale[s];
        for (int k = 0; k <= sc.intervals(); ++k)
            widest =
                std::max(widest, fm.horizontalAdvance(valueLabel(sc.lo + k * sc.step, sc.step)));
        sideWidth[s] = 6 + widest + 5 + (m_axisTitle[s].isEmpty() ? 0 : line + 4);
    }
    const double bottom = line + 6 + line + 8; // tick labels, then legend and time caption
    f.plot =
        QRectF(sideWidth[Left], f.titleHeight, size.width() - sideWidth[Left] - sideWidth[Right],
               size.height() - f.titleHeight - bottom);
    if (f.plot.width() < 10) f.plot.setWidth(10);
    if (f.plot.height() < 10) f.plot.setHeight(10);
    return f;
}

double RunChart::xOf(const QRectF &plot, double t) const {
    const double t0 = viewStart(), t1 = viewEnd();
    return plot.left() + (t - t0) / (t1 - t0) * plot.width();
}

double RunChart::yOf(const QRectF &plot, Side side, double v) const {
    const ValueScale &s = m_scale[side];
    return plot.bottom() - (v - s.lo) / (s.hi - s.lo) * plot.height();
}

double RunChart::timeAt(double x) const {
    const double t0 = viewStart(), t1 = viewEnd();
    const double f = std::clamp((x - m_plot.left()) / std::max(1.0, m_plot.width()), 0.0, 1.0);
    return t0 + f * (t1 - t0);
}

void RunChart::render(QPainter &p, const QSizeF &size, double columnsPerUnit) const {
    const QFont font = pixelFont(this->font());
    const QFontMetricsF fm(font);
    const Frame f = frameFor(size);
    const QRectF &plot = f.plot;
    const double line = fm.height();
    p.fillRect(QRectF(QPointF(0, 0), size), Qt::white);
    p.setFont(font);

    if (!m_title.isEmpty()) {
        QFont bold = font;
        bold.setBold(true);
        p.setFont(bold);
        p.setPen(kText);
        p.drawText(QRectF(0, 0, size.width(), f.titleHeight), Qt::AlignCenter, m_title);
        p.setFont(font);
    }

    // One grid: the horizontal lines are both value axes' ticks.
    const double t0 = viewStart(), t1 = viewEnd();
    const QString sample = timeLabel(t1, 1) + QStringLiteral("  ");
    const int maxTicks = std::max(2, int(plot.width() / (fm.horizontalAdvance(sample) + 16)));
    const double step = timeTickStep(t1 - t0, maxTicks);
    const std::vector<double> ticks = timeTicks(t0, t1, step);
    p.setPen(QPen(kGrid, 1));
    for (double t : ticks)
        p.drawLine(QPointF(xOf(plot, t), plot.top()), QPointF(xOf(plot, t), plot.bottom()));
    const ValueScale &lead = m_scale[Left];
    const int intervals = lead.intervals();
    for (int k = 0; k <= intervals; ++k) {
        const double y = plot.bottom() - plot.height() * k / std::max(1, intervals);
        p.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
    }

    // Value labels and captions.
    p.setPen(kText);
    for (int s = 0; s < 2; ++s) {
        if (s == Right && !hasCurves(Right)) continue;
        const ValueScale &sc = m_scale[s];
        for (int k = 0; k <= sc.intervals(); ++k) {
            const double y = plot.bottom() - plot.height() * k / std::max(1, sc.intervals());
            const QString text = valueLabel(sc.lo + k * sc.step, sc.step);
            const QRectF box = s == Left ? QRectF(0, y - line / 2, plot.left() - 5, line)
                                         : QRectF(plot.right() + 5, y - line / 2,
                                                  size.width() - plot.right() - 5, line);
            p.drawText(box, (s == Left ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter, text);
        }
        if (m_axisTitle[s].isEmpty()) continue;
        p.save();
        const double x = s == Left ? 2 : size.width() - 2;
        p.translate(x, plot.center().y());
        p.rotate(s == Left ? -90 : 90);
        p.drawText(QRectF(-plot.height() / 2, 0, plot.height(), line),
                   Qt::AlignHCenter | Qt::AlignTop, m_axisTitle[s]);
        p.restore();
    }
    for (double t : ticks) {
        const QString text = timeLabel(t, step);
        const double w = fm.horizontalAdvance(text);
        const double x = std::clamp(xOf(plot, t) - w / 2, 0.0, size.width() - w);
        p.drawText(QRectF(x, plot.bottom() + 4, w + 1, line), Qt::AlignLeft | Qt::AlignTop, text);
    }

    // Legend on the left of the last row, the time caption on its right.
    const double legendY = plot.bottom() + 6 + line;
    const QString timeTitle = timeAxisTitle(step);
    const double captionWidth = fm.horizontalAdvance(timeTitle);
    p.drawText(QRectF(size.width() - captionWidth - 6, legendY, captionWidth + 1, line),
               Qt::AlignLeft | Qt::AlignVCenter, timeTitle);
    double x = plot.left();
    for (const Curve &c : m_curves) {
        p.setPen(QPen(c.colour, 2.5));
        p.drawLine(QPointF(x, legendY + line / 2), QPointF(x + 16, legendY + line / 2));
        p.setPen(kText);
        const double w = fm.horizontalAdvance(c.name);
        p.drawText(QRectF(x + 20, legendY, w + 1, line), Qt::AlignLeft | Qt::AlignVCenter, c.name);
        x += 20 + w + 14;
    }

    p.setPen(QPen(kFrame, 1));
    p.setBrush(Qt::NoBrush);
    p.drawRect(plot);
    // Curves over the frame, so that one on the highest or lowest value still shows.
    p.save();
    p.setClipRect(curveClip(plot));
    p.setRenderHint(QPainter::Antialiasing);
    for (const Curve &c : m_curves)
        drawCurve(p, plot, c, columnsPerUnit);
    p.restore();
}

void RunChart::drawCurve(QPainter &p, const QRectF &plot, const Curve &c,
                         double columnsPerUnit) const {
    const int columns = std::max(1, int(plot.width() * columnsPerUnit));
    const std::vector<ChartPoint> points = decimate(c.data, viewStart(), viewEnd(), columns);
    if (points.empty()) return;
    std::vector<QPointF> line;
    line.reserve(points.size());
    for (const ChartPoint &pt : points)
        line.emplace_back(xOf(plot, pt.t), yOf(plot, c.side, pt.v));
    p.setPen(QPen(c.colour, 1.0));
    if (line.size() == 1)
        p.drawPoint(line.front());
    else
        p.drawPolyline(line.data(), int(line.size()));
}

void RunChart::rebuildCache() {
    const qreal dpr = devicePixelRatioF();
    if (m_cache.deviceIndependentSize() != QSizeF(size()) || m_cache.devicePixelRatio() != dpr) {
        m_cache = QPixmap((QSizeF(size()) * dpr).toSize());
        m_cache.setDevicePixelRatio(dpr);
    }
    QPainter p(&m_cache);
    render(p, size(), dpr);
    m_plot = frameFor(size()).plot;
    for (Curve &c : m_curves)
        c.drawn = c.data.size();
    m_cacheValid = true;
}

// The segments from the last drawn point of each curve to its newest one, on the cached
// picture; returns the area they changed.
QRect RunChart::drawNewSegments() {
    if (!m_cacheValid) return {};
    std::size_t pending = 0;
    for (const Curve &c : m_curves)
        pending += c.data.size() - c.drawn;
    if (pending == 0) return {};
    // After a long time unseen, drawing everything again is cheaper than every segment.
    if (double(pending) > 2 * m_plot.width()) {
        invalidate();
        return rect();
    }
    QPainter p(&m_cache);
    p.setClipRect(curveClip(m_plot));
    p.setRenderHint(QPainter::Antialiasing);
    QRectF changed;
    std::vector<QPointF> line;
    for (Curve &c : m_curves) {
        const std::size_t n = c.data.size();
        if (c.drawn >= n) continue;
        line.clear();
        for (std::size_t i = c.drawn > 0 ? c.drawn - 1 : 0; i < n; ++i)
            line.emplace_back(xOf(m_plot, c.data.time(i)), yOf(m_plot, c.side, c.data.value(i)));
        p.setPen(QPen(c.colour, 1.0));
        if (line.size() == 1)
            p.drawPoint(line.front());
        else
            p.drawPolyline(line.data(), int(line.size()));
        for (const QPointF &pt : line)
            changed |= QRectF(pt, QSizeF(0.01, 0.01));
        c.drawn = n;
    }
    p.end();
    return changed.adjusted(-3, -3, 3, 3).toAlignedRect().intersected(rect());
}

void RunChart::refresh() {
    m_redraw.stop();
    if (!isVisible()) return;
    if (!m_cacheValid) {
        update();
        return;
    }
    const QRect changed = drawNewSegments();
    if (!changed.isEmpty()) update(changed);
}

void RunChart::paintEvent(QPaintEvent *) {
    if (!m_cacheValid || m_cache.deviceIndependentSize() != QSizeF(size()) ||
        m_cache.devicePixelRatio() != devicePixelRatioF())
        rebuildCache();
    else
        drawNewSegments();
    if (!m_cacheValid) rebuildCache();
    QPainter p(this);
    p.drawPixmap(0, 0, m_cache);
    if (hasFocus()) {
        p.setPen(QPen(palette().color(QPalette::Highlight), 1, Qt::DotLine));
        p.drawRect(rect().adjusted(1, 1, -2, -2));
    }

    if (m_dragging) {
        const double a = std::clamp(double(m_dragFrom), m_plot.left(), m_plot.right());
        const double b = std::clamp(double(m_mouse.x()), m_plot.left(), m_plot.right());
        p.fillRect(QRectF(std::min(a, b), m_plot.top(), std::fabs(b - a), m_plot.height()),
                   QColor(0x30, 0x60, 0xc0, 0x30));
    }
    if (!m_hover) return;

    // The read-out: a line at the mouse, a dot on each curve's nearest point, the values.
    const double t = timeAt(m_mouse.x());
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0x50, 0x50, 0x50), 1, Qt::DashLine));
    p.drawLine(QPointF(m_mouse.x(), m_plot.top()), QPointF(m_mouse.x(), m_plot.bottom()));
    const double reach = kReadoutReach * (viewEnd() - viewStart()) / std::max(1.0, m_plot.width());
    for (const Curve &c : m_curves) {
        const std::size_t i = c.data.nearest(t);
        if (i >= c.data.size() || std::fabs(c.data.time(i) - t) > reach) continue;
        const QPointF at(xOf(m_plot, c.data.time(i)), yOf(m_plot, c.side, c.data.value(i)));
        if (!m_plot.contains(at)) continue;
        p.setPen(QPen(c.colour, 1.0));
        p.setBrush(Qt::white);
        p.drawEllipse(at, 3, 3);
    }
    const QStringList lines = readout().split(QLatin1Char('\n'));
    const QFont font = pixelFont(this->font());
    const QFontMetricsF fm(font);
    double w = 0;
    for (const QString &l : lines)
        w = std::max(w, fm.horizontalAdvance(l));
    const QSizeF box(w + 12, fm.height() * lines.size() + 8);
    QPointF corner(m_mouse.x() + 12, m_mouse.y() + 12);
    if (corner.x() + box.width() > width()) corner.setX(m_mouse.x() - 12 - box.width());
    if (corner.y() + box.height() > height()) corner.setY(m_mouse.y() - 12 - box.height());
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(kFrame);
    p.setBrush(QColor(255, 255, 255, 235));
    p.drawRect(QRectF(corner, box));
    p.setFont(font);
    p.setPen(kText);
    for (int k = 0; k < lines.size(); ++k)
        p.drawText(QRectF(corner.x() + 6, corner.y() + 4 + k * fm.height(), w + 1, fm.height()),
                   Qt::AlignLeft | Qt::AlignVCenter, lines[k]);
}

QString RunChart::readout() const {
    if (!m_hover) return {};
    const double t = timeAt(m_mouse.x());
    QStringList lines{timeReadout(t)};
    const double reach = kReadoutReach * (viewEnd() - viewStart()) / std::max(1.0, m_plot.width());
    for (const Curve &c : m_curves) {
        const std::size_t i = c.data.nearest(t);
        if (i >= c.data.size() || std::fabs(c.data.time(i) - t) > reach) continue;
        QString line = c.name + QStringLiteral(" : ") + readoutValue(c.data.value(i));
        if (!m_axisTitle[c.side].isEmpty()) line += QLatin1Char(' ') + m_axisTitle[c.side];
        lines << line;
    }
    return lines.join(QLatin1Char('\n'));
}

void RunChart::resizeEvent(QResizeEvent *event) {
    invalidate();
    QWidget::resizeEvent(event);
}

void RunChart::mousePressEvent(QMouseEvent *event) {
    if (event->button() == Qt::LeftButton && m_plot.contains(event->position())) {
        m_dragging = true;
        m_dragFrom = event->position().toPoint().x();
        m_mouse = event->position().toPoint();
        update();
        return;
    }
    QWidget::mousePressEvent(event);
}

void RunChart::mouseMoveEvent(QMouseEvent *event) {
    m_mouse = event->position().toPoint();
    m_hover = m_plot.contains(event->position());
    update();
}

void RunChart::mouseReleaseEvent(QMouseEvent *event) {
    if (event->button() != Qt::LeftButton || !m_dragging) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    m_dragging = false;
    const int to = event->position().toPoint().x();
    if (std::abs(to - m_dragFrom) >= kMinDrag)
        zoomTo(timeAt(std::min(to, m_dragFrom)), timeAt(std::max(to, m_dragFrom)));
    update();
}

void RunChart::mouseDoubleClickEvent(QMouseEvent *event) {
    if (event->button() == Qt::LeftButton) {
        m_dragging = false;
        resetZoom();
        return;
    }
    QWidget::mouseDoubleClickEvent(event);
}

void RunChart::keyPressEvent(QKeyEvent *event) {
    // The menu key and Shift+F10 open the chart's menu under its centre, as a right click.
    if (event->key() == Qt::Key_Menu ||
        (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier)) {
        const QPoint at = rect().center();
        QContextMenuEvent menu(QContextMenuEvent::Keyboard, at, mapToGlobal(at));
        QCoreApplication::sendEvent(this, &menu);
        return;
    }
    QWidget::keyPressEvent(event);
}

void RunChart::focusInEvent(QFocusEvent *event) {
    update(); // the focus frame
    QWidget::focusInEvent(event);
}

void RunChart::focusOutEvent(QFocusEvent *event) {
    update();
    QWidget::focusOutEvent(event);
}

void RunChart::leaveEvent(QEvent *event) {
    m_hover = false;
    update();
    QWidget::leaveEvent(event);
}

// Export: the picture as shown, through the save dialog (which asks before replacing a file);
// written whole or not at all.
void RunChart::exportImage(bool pdf) {
    static QString lastDir;
    if (lastDir.isEmpty())
        lastDir = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString suffix = pdf ? QStringLiteral(".pdf") : QStringLiteral(".png");
    QString name = m_title.isEmpty() ? QStringLiteral("graphique") : m_title;
    name.replace(QRegularExpression(QStringLiteral("[\\\\/:*?\"<>|]")), QStringLiteral("_"));
    QString path = chlink::saveFileName(this,
                                        pdf ? QStringLiteral("Exporter le graphique en PDF")
                                            : QStringLiteral("Exporter le graphique en image PNG"),
                                        QDir(lastDir).filePath(name + suffix),
                                        pdf ? QStringLiteral("Document PDF (*.pdf)")
                                            : QStringLiteral("Image PNG (*.png)"));
    if (path.isEmpty()) return;
    if (!path.endsWith(suffix, Qt::CaseInsensitive)) {
        // The dialog asked about the name as typed, not about this one.
        path += suffix;
        if (QFileInfo::exists(path) &&
            !chlink::askYesNoRisky(this, QStringLiteral("Le fichier %1 existe déjà.\n"
                                                        "Voulez-vous le remplacer ?")
                                             .arg(QDir::toNativeSeparators(path))))
            return;
    }
    lastDir = QFileInfo(path).absolutePath();
    QString error;
    if (!(pdf ? writePdf(path, error) : writePng(path, error)))
        chlink::errorBox(this, QStringLiteral("Impossible d'écrire %1 : %2")
                                   .arg(QDir::toNativeSeparators(path), error));
}

namespace {

// The size a picture is drawn at: the chart's own, or a usual one when it is not on screen.
QSizeF exportSize(const QWidget *w) {
    const QSize s = w->size();
    return (s.width() < 200 || s.height() < 150) ? QSizeF(800, 450) : QSizeF(s);
}

} // namespace

bool RunChart::writePng(const QString &path, QString &error) const {
    const QSizeF size = exportSize(this);
    const qreal scale = 2; // sharper than the screen, for documents
    QImage image((size * scale).toSize(), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(scale);
    {
        QPainter p(&image);
        render(p, size, scale);
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || !image.save(&file, "PNG") || !file.commit()) {
        error = file.errorString();
        file.cancelWriting();
        return false;
    }
    return true;
}

bool RunChart::writePdf(const QString &path, QString &error) const {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        error = file.errorString();
        return false;
    }
    {
        QPdfWriter writer(&file);
        writer.setTitle(m_title);
        writer.setCreator(QStringLiteral("pelmora"));
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setPageOrientation(QPageLayout::Landscape);
        writer.setResolution(300);
        QPainter p;
        if (!p.begin(&writer)) {
            error = QStringLiteral("PDF");
            file.cancelWriting();
            return false;
        }
        // The chart at its shown proportions, scaled to the page's width (or height).
        const QSizeF size = exportSize(this);
        const double k = std::min(writer.width() / size.width(), writer.height() / size.height());
        p.scale(k, k);
        render(p, size, 2);
        p.end();
    }
    if (!file.commit()) {
        error = file.errorString();
        return false;
    }
    return true;
}

} // namespace modes
