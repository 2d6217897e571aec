#pragma once

#include "serial/devices.h"

#include <QDialog>

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace serialio {
class ComMap;
}

// Maps a COM number to a serial device: one of those the system lists (with description
// and USB ids) or a path typed by the user (a pseudo-terminal, a device the system does not
// list). The main window applies the choice.
class AssocPort : public QDialog {
    Q_OBJECT
  public:
    AssocPort(const serialio::ComMap &ports, int number, QWidget *parent = nullptr);

    int chosenNumber() const;
    QString chosenDevice() const; // the path as typed or picked, trimmed

    // Asks the system again (an adapter plugged in while the dialog is open).
    void refreshDevices();

  private:
    void showCurrent();
    void updateButtons();

    const serialio::ComMap &m_ports;
    QComboBox *m_number = nullptr;
    QLabel *m_current = nullptr;
    QListWidget *m_list = nullptr;
    QLineEdit *m_path = nullptr;
    QPushButton *m_ok = nullptr;
};
