#pragma once

#include "link/host.h"
#include "serial/exchangegate.h"

#include <QByteArray>
#include <QVector>
#include <QWidget>
#include <functional>

class QLabel;
class QProgressBar;
class QPushButton;

namespace winkit {
class WindowRegistry;
}

namespace firmware {
struct FlashProgress;
struct FlashResult;
} // namespace firmware

// The microcontroller window: reprograms the master's flash from a HEX file block by
// block, and the slave's word by word after reading it back and comparing (only changed
// words are written, with a warning for the protected zone); also opens the EEPROM
// editors and the state panel.
class Micro : public QWidget {
    Q_OBJECT
  public:
    explicit Micro(const chlink::Host &host, QWidget *parent = nullptr);
    ~Micro() override;

    // The windows this one opens ("FEtat", "EEprom", "Exteepr") come from the registry,
    // with this window as their opener (hidden while they are open). The EEPROM editor
    // finds the controller to edit in the target selector. Without a registry, or with a
    // window registered but not written yet, the button says that the window is not
    // available yet.
    void setRegistry(winkit::WindowRegistry *registry) { m_registry = registry; }

    // Button handlers, public so that tests drive them directly.
    void pgmMaster();      // CBMIC1
    void pgmSlave();       // CbPgmSlave
    void eepromMaster();   // CBepr
    void eepromSlave();    // CbEEprSalave
    void externalEeprom(); // CbextEEPROM
    void statePanel();     // CBEtat
    void quitter();        // MQuitter

    bool isBusy() const { return m_gate->busy(); }

    // The master image and the slave images of the last operations (for tests).
    const QByteArray &masterImage() const { return m_master; }
    const QVector<quint16> &slaveImage() const { return m_slave; }
    const QVector<quint16> &readBackImage() const { return m_readBack; }
    int lastAddress() const { return m_lastAddress; }

    // Settings key of the folder the HEX file dialog starts in.
    static constexpr const char *kFolderKey = "firmware/hexFolder";

  protected:
    void closeEvent(QCloseEvent *e) override;

  private:
    void buildUi();
    void load();
    QString chooseFile();
    firmware::FlashProgress progress();
    // A transfer that did not end: LBinfos says where it stopped, and a box says it with
    // what that leaves in the memory (none while the program is ending).
    void reportStop(const firmware::FlashResult &r);
    void openWindow(const char *id);

    chlink::Host m_host;
    winkit::WindowRegistry *m_registry = nullptr;
    serialio::ExchangeGate *m_gate; // one transfer at a time; the window goes when it ends
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
