#pragma once

#include "winkit/chargerwindow.h"

class QPushButton;

namespace modes {

// "Selection Type Moniteur": leads to the monitor window. Only the normal mode exists.
class SelMoni : public winkit::ChargerWindow {
    Q_OBJECT
  public:
    explicit SelMoni(const winkit::Host &host, QWidget *parent = nullptr);

    // Smode1 "Mode Normal": the monitor window takes this one's place, opened from the main
    // window (which it hides and brings back when it is left).
    void modeNormal();

  private:
    QPushButton *m_normal;
    QPushButton *m_equilibrage;
    QPushButton *m_retour;
};

} // namespace modes
