#pragma once

#include "winkit/chargerwindow.h"

#include <QByteArray>
#include <QVector>

class QLabel;
class QProgressBar;
class QPushButton;

namespace firmware {
struct FlashProgress;
struct FlashResult;
} // namespace firmware

// The microcontroller window: reprograms the master's flash from a HEX file block by
// block, and the slave's word by word after reading it back and comparing (only changed
// words are written, with a warning for the protected zone); also opens the EEPROM
// editors and the state panel ("FEtat", "EEprom", "Exteepr", opened by id with this window
// as their opener; the EEPROM editor finds the controller to edit in the target selector).
//
// Closing it during a transfer asks first; the transfer then stops after the exchange under
// way, and the main window comes back only once it has (the main window reopens the port as
// it comes back).
class Micro : public winkit::ChargerWindow {
    Q_OBJECT
  public:
    explicit Micro(const winkit::Host &host);
    ~Micro() override;

    // Button handlers, public so that tests drive them directly.
    void pgmMaster();      // CBMIC1
    void pgmSlave();       // CbPgmSlave
    void eepromMaster();   // CBepr
    void eepromSlave();    // CbEEprSalave
    void externalEeprom(); // CbextEEPROM
    void statePanel();     // CBEtat
    // MQuitter ("Retour") is the base's leave().

    bool isBusy() const { return gate().busy(); }

    // The master image and the slave images of the last operations (for tests).
    const QByteArray &masterImage() const { return m_master; }
    const QVector<quint16> &slaveImage() const { return m_slave; }
    const QVector<quint16> &readBackImage() const { return m_readBack; }
    int lastAddress() const { return m_lastAddress; }

    // Settings key of the folder the HEX file dialog starts in.
    static constexpr const char *kFolderKey = "firmware/hexFolder";

  protected:
    bool mayClose() override;

  private:
    void buildUi();
    QString chooseFile();
    firmware::FlashProgress progress();
    // A transfer that did not end: LBinfos says where it stopped, and a box says it with
    // what that leaves in the memory (none while the program is ending).
    void reportStop(const firmware::FlashResult &r);

    bool m_writing = false; // a write is under way: stopping leaves the memory partly written

    QByteArray m_master;
    QVector<quint16> m_slave;
    QVector<quint16> m_readBack;
    QVector<bool> m_changed;
    int m_lastAddress = 0;

    QLabel *m_typest = nullptr;
    QLabel *m_infos = nullptr;
    QProgressBar *m_bar = nullptr;
    QList<QPushButton *> m_actions;
    QPushButton *m_quit = nullptr;
};
