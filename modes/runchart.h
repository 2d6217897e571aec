#pragma once

#include "chartdata.h"

#include <QColor>
#include <QPixmap>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <optional>
#include <vector>

class QAction;

// A live chart of a run against elapsed time: a few curves, each on the left or the right
// value axis. It keeps every point and holds a day at one point per second: what is drawn
// is reduced to the lowest and highest point of each pixel column, the axes move in round
// steps rather than at every point, and a new point draws only its own segment.
//
// The mouse shows the values under it; dragging across the plot zooms in on that period,
// a double-click (or "Vue entière") shows the whole run again; the context menu exports
// the chart as a PNG image or a PDF page.
namespace modes {

class RunChart : public QWidget {
    Q_OBJECT
  public:
    enum Side { Left, Right };

    RunChart(const QString &title, const QString &leftTitle, const QString &rightTitle,
             QWidget *parent = nullptr);

    // Returns the curve's index for append().
    int addCurve(const QString &name, Side side, const QColor &colour);
    void setCurveName(int curve, const QString &name);
    // A point at the elapsed time; a value never computed adds nothing.
    void append(int curve, double seconds, std::optional<double> value);
    void clear();

    int pointCount(int curve) const;

    // The period shown, in seconds since the run began.
    double viewStart() const;
    double viewEnd() const;
    bool isZoomed() const { return m_zoomed; }
    // Shows [t0, t1] only (value axes fit what that period holds) until resetZoom().
    void zoomTo(double t0, double t1);
    void resetZoom();

    // The read-out under the mouse, one line per curve after the time; empty when the
    // mouse is not over the plot.
    QString readout() const;

    // Brings the picture up to date with the points appended since the last call; the
    // chart's own timer calls it a few times a second while points arrive.
    void refresh();

    // The chart as a file, drawn anew at the size shown (not a copy of the screen); an
    // existing file is replaced, so callers ask first.
    bool writePng(const QString &path, QString &error) const;
    bool writePdf(const QString &path, QString &error) const;
    // The whole chart into a painter at `size`, curves reduced to `columnsPerUnit` columns
    // per unit of width (printing).
    void render(QPainter &p, const QSizeF &size, double columnsPerUnit) const;

  protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

  private:
    struct Curve {
        QString name;
        Side side;
        QColor colour;
        ChartSeries data;
        std::size_t drawn = 0; // points already in the cached picture
    };
    // Where things go in a picture of a given size.
    struct Frame {
        QRectF plot;
        double titleHeight = 0;
    };

    Frame frameFor(const QSizeF &size) const;
    bool hasCurves(Side side) const;
    void rescale();
    void invalidate();
    double xOf(const QRectF &plot, double t) const;
    double yOf(const QRectF &plot, Side side, double v) const;
    double timeAt(double x) const;
    void drawCurve(QPainter &p, const QRectF &plot, const Curve &c, double columnsPerUnit) const;
    void rebuildCache();
    QRect drawNewSegments();
    void exportImage(bool pdf);

    QString m_title;
    QString m_axisTitle[2];
    std::vector<Curve> m_curves;

    double m_fullEnd = 60; // end of the time axis when the whole run is shown
    bool m_zoomed = false;
    double m_zoom0 = 0, m_zoom1 = 60;
    ValueScale m_scale[2];
    bool m_scaled[2] = {false, false}; // the scale was fitted to data

    QPixmap m_cache;
    bool m_cacheValid = false;
    QRectF m_plot; // the plot's place in the widget, set with the cache
    QTimer m_redraw;

    QPoint m_mouse;
    bool m_hover = false;
    bool m_dragging = false;
    int m_dragFrom = 0;

    QAction *m_actWhole;
};

} // namespace modes
