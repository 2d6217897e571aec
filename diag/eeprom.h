#pragma once

#include "charger/eeprommap.h"
#include "winkit/chargerwindow.h"

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QScrollBar;

namespace diag {

struct EeResult;

// The internal EEPROM editor of one controller (the target selector as the window opens: 1
// the master, otherwise the slave). Each time the window is activated from another window of
// the program it reads both controllers' EEPROMs into the program's images (calibration
// tables A and B); it shows the chosen image as hexadecimal with the names of the general
// parameters, lets the user change single bytes, writes addresses 0..191 back ("Mise à jour
// PIC", then reads them again to check them), and saves or restores the image as an ".ESV"
// file.
//
// The images are re-read only on an activation from another window of the program: never
// when a message box or a file dialog of this window closes, nor when the user comes back
// from another program, so that edits not written yet are not lost that way.
class EEprom : public winkit::ChargerWindow {
    Q_OBJECT
  public:
    explicit EEprom(const winkit::Host &host);
    ~EEprom() override;

    // Settings key of the folder the file dialogs start in.
    static constexpr const char *kFolderKey = "diag/esvFolder";

    // ---- Handlers, public so that tests call them directly ----
    // The activation's reads of both EEPROMs (queued behind an exchange in progress).
    void activation();
    void enterAddress(); // Enter in Text2
    void enterData();    // Enter in Text3
    void loadFile();     // CBLoadeprom
    void saveFile();     // CBSaveeprom
    void updatePic();    // CBUpdate

    // ---- State, for tests ----
    int target() const { return m_target; }
    int selectedAddress() const { return m_selected; }
    bool isBusy() const { return gate().busy(); }
    QByteArray &image();

  protected:
    void changeEvent(QEvent *e) override;

  private:
    enum Key { KeyRead, KeyUpdate, KeyLoad, KeySave };

    void buildUi();
    void drawGeneral();
    void drawRow();
    void showIdentification();
    void readBoth();
    void writeImage();
    // A transfer that stopped: the message with where it stopped.
    void report(const EeResult &r, bool write);
    QString dialogTitle() const;
    QString dialogFolder() const;
    void remember(const QString &file);

    int m_target = 1;
    charger::Controller m_controller = charger::Controller::Master;
    int m_selected; // kNoAddress: none
    bool m_leftProgram = false;
    QString m_lastFile;

    QLineEdit *m_address = nullptr; // Text2
    QLineEdit *m_data = nullptr;    // Text3
    QLabel *m_name = nullptr;       // Label8
    QLabel *m_general = nullptr;    // Label3
    QLineEdit *m_row = nullptr;     // Lbdat2
    QLabel *m_rowNumber = nullptr;  // Label2
    QScrollBar *m_scroll = nullptr; // Vscroll1
    QLineEdit *m_ident = nullptr;   // Text4
    QProgressBar *m_bar = nullptr;  // Bar
    QPushButton *m_update = nullptr;
};

} // namespace diag
