#pragma once

#include "exteeprxfer.h"
#include "winkit/chargerwindow.h"

#include <QColor>
#include <QElapsedTimer>
#include <array>

class QCheckBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QScrollBar;

namespace diag {

// The external EEPROM editor ("EEproms Externes"): reads the text memory (EEprom1) or the
// charge-program library (EEprom2) from the charger once per opening, shows one record at a
// time on the scroll bar, keeps the edits, writes the whole memory back ("Dowload EEprom")
// and saves it to or restores it from a text file.
//
// Edits of the record shown are kept when the scroll bar moves, and before a download, a
// file write or a change of memory; a program field that does not fit the record is refused
// there with a message naming it, and the record stays shown. While a read or a download
// runs, the controls that would start another exchange are disabled.
class Exteepr : public winkit::ChargerWindow {
    Q_OBJECT
  public:
    explicit Exteepr(const winkit::Host &host);
    ~Exteepr() override;

    // Handlers, public so that tests drive them directly.
    void option1();          // Option1: select and read the text memory
    void option2();          // Option2: select and read the program library
    void slider1(int value); // Slider1 moved: keep the record shown, show the new one
    void text6Changed();     // Text6: the type's presentation
    void download();         // CbSave "Dowload EEprom"
    void writeFile();        // CbEcrit "Ecr. Fichier"
    void readFile();         // CBLit "Lit Fichier"
    // CbQuit "Quitte" is the base's leave().

    int selection() const { return m_selection; }
    int position() const { return m_position; }
    bool memoryRead(int selection) const { return m_read[selection]; }
    const QStringList &texts() const { return m_texts; }
    const exteepr::Library &library() const { return m_library; }

  protected:
    bool mayClose() override;

  private:
    void buildUi();
    QGroupBox *buildProgramFrame();
    void select(int selection);
    void paintFrames(bool firstActive, bool secondActive);
    void updateControls();
    // Keeps the record shown into the entry lists; false (with a message) when a field does
    // not fit, the record then stays shown.
    bool storeShown();
    void show(int position);
    void showProgram(const exteepr::Program &p);
    // After a read or a file: position 1 shown, nothing stored back from before.
    void resetView();
    void setSlider(int value);
    void progressStep(int address, int done, int total);
    void reportFailure(const exteepr::TransferResult &r, const QString &after);

    int m_selection = exteepr::NoMemory;
    std::array<bool, 3> m_read{};  // read from the charger during this opening
    std::array<bool, 3> m_known{}; // read from the charger or from a file: may be downloaded
    int m_position = 1;
    int m_shown = -1; // the position whose record the fields hold; -1 none
    bool m_downloading = false;
    bool m_settingSlider = false;
    QStringList m_texts;
    exteepr::Library m_library;
    QColor m_frameColour;
    QElapsedTimer m_transferClock;

    QGroupBox *m_esell = nullptr;
    QRadioButton *m_option1 = nullptr;
    QRadioButton *m_option2 = nullptr;
    QGroupBox *m_frame1 = nullptr;
    QGroupBox *m_frame2 = nullptr;
    QLabel *m_label1 = nullptr;
    QLineEdit *m_text1 = nullptr;
    QLabel *m_label2 = nullptr;
    QLineEdit *m_text4 = nullptr;
    QLineEdit *m_text5 = nullptr;
    QLineEdit *m_text6 = nullptr;
    QLabel *m_label8 = nullptr;
    QLineEdit *m_nbElem = nullptr;
    QLineEdit *m_iCharg = nullptr;
    QLineEdit *m_iDech = nullptr;
    QFrame *m_shape6 = nullptr;
    QLineEdit *m_duree = nullptr;
    QLineEdit *m_cycles = nullptr;
    QLabel *m_label12 = nullptr;
    QFrame *m_shape7 = nullptr;
    QLineEdit *m_vDech = nullptr;
    std::array<QCheckBox *, 6> m_checks{};
    QScrollBar *m_slider = nullptr;
    QLabel *m_label4 = nullptr;
    QLabel *m_label5 = nullptr;
    QProgressBar *m_bar = nullptr;
    QLabel *m_infos = nullptr;
    QPushButton *m_save = nullptr;
    QPushButton *m_write = nullptr;
    QPushButton *m_readFile = nullptr;
    QPushButton *m_quit = nullptr;
};

} // namespace diag
