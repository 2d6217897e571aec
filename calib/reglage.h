#pragma once

#include "winkit/chargerwindow.h"

class QComboBox;

namespace calib {

// The group of the calibration windows the selector manages: choosing an entry, or closing
// the selector, closes them. The discharge-current window is not in it and stays open.
inline const QString kManagedGroup = QStringLiteral("calibration");

// "Mode Reglage": the calibration selector. It talks to no charger; it opens the chosen
// calibration window when the charger is connected.
class Reglage : public winkit::ChargerWindow {
    Q_OBJECT
  public:
    explicit Reglage(const winkit::Host &host, QWidget *parent = nullptr);

    // The ids of the windows of SelRegl's entries, in list order.
    static const QStringList &entryWindows();
    // SelRegl chosen: closes the managed windows, then opens the chosen one (when
    // connected; otherwise "Pas de connection avec chargeur").
    void choose(int index);

  protected:
    void aboutToLeave() override;

  private:
    QComboBox *m_list;
};

} // namespace calib
