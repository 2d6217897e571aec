#pragma once

#include <QString>
#include <initializer_list>

class QGroupBox;
class QLabel;
class QVBoxLayout;
class QWidget;

namespace modes {
class KeepAwake;
}

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

// Tab goes through `widgets` in this order.
void setTabChain(std::initializer_list<QWidget *> widgets);

// "LbVeille": hidden until the system first refuses to keep the computer awake during a run
// of `awake`; then it says so, once, for the window's lifetime (the reason in its tooltip).
QLabel *sleepNote(QWidget *window, const KeepAwake &awake);

} // namespace modes
