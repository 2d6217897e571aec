#pragma once

#include <QCoreApplication>
#include <QSize>
#include <QWidget>

// PELMORA_SHOT_DIR set: saves a picture of the window there as NAME.png, first grown to at
// least `atLeast` (a desktop's size rather than the offscreen platform's small default).
inline void shot(QWidget &w, const char *name, QSize atLeast = QSize()) {
    const QString dir = qEnvironmentVariable("PELMORA_SHOT_DIR");
    if (dir.isEmpty()) return;
    if (atLeast.isValid()) w.resize(w.sizeHint().expandedTo(atLeast));
    QCoreApplication::processEvents();
    w.grab().save(dir + QLatin1Char('/') + QLatin1String(name) + QStringLiteral(".png"));
}
