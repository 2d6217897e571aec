#pragma once

#include <QString>

class QGroupBox;
class QLabel;
class QVBoxLayout;
class QWidget;

// The frames every run window opens with, named as each window names them.
namespace modes {

// "HORLOGE": hours, minutes and seconds in big figures; `labels` receives the three.
QGroupBox *clockFrame(QWidget *window, const char *frameName, const char *const names[3],
                      QLabel *labels[3]);

// "ETAT": the run's state in bold, `scale` times the window's font, wide enough for
// `longest` so that the window does not shift as the state changes. `state` receives the
// label, `layout` the frame's column (for what a window adds under the state).
QGroupBox *stateFrame(QWidget *window, const char *frameName, const char *labelName, double scale,
                      const QString &longest, QLabel **state, QVBoxLayout **layout = nullptr);

} // namespace modes
