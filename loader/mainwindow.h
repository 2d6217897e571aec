#pragma once

#include "bootport.h"

#include "bootimage.h"
#include "upload.h"

#include <QMainWindow>
#include <QString>

class QComboBox;
class QGroupBox;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTimer;

namespace serialio {
class ExchangeGate;
}

namespace loader {

class BootLink;

// sparlo's window: port choice, boot loader handshake, HEX file, upload, settings file.
class Main : public QMainWindow, private UploadObserver {
    Q_OBJECT
  public:
    // settingsPath: where "sparlo.ini" is read at start and written at quit.
    Main(BootLink &link, const ComMap &ports, const QString &settingsPath,
         QWidget *parent = nullptr);
    ~Main() override;

    // ---- The window's routines (buttons, menu, activation), callable from tests ----
    void activate();
    void openFile();
    void startUpload();
    void reconnect();
    void disconnect_();
    void chooseComPort(int index);
    void quit();

    QString panelText(int panel) const;
    QString displayText() const;
    const BootImage &image() const { return m_image; }
    QString fileName() const { return m_fileName; }
    QString folder() const { return m_folder; }
    // A handshake or an upload is waiting for the boot loader.
    bool busy() const;
    bool bootLoaderAnswered() const { return m_answered; }
    // What the last upload did (for the command line and tests).
    const UploadResult &lastUpload() const { return m_lastUpload; }

  protected:
    bool event(QEvent *e) override;
    void closeEvent(QCloseEvent *e) override;

  private:
    void buildUi();
    void load();
    void runHandshake();
    void setDisplay(const QString &text);
    void refreshPortList();
    void onPortLost(const QString &reason);
    void finishQuit();
    // "COM 3 (/dev/ttyUSB0)", or "COM 3 : aucun port série associé".
    QString portText() const;
    QString uploadQuestion() const;
    // The box that ends a failed upload: what failed, where, and the state of the memory.
    QString failureText(const UploadResult &r) const;

    // UploadObserver
    void setPanel(int panel, const QString &text) override;
    void started(int progressMaximum) override;
    void progress(int address) override;
    void finished() override;

    BootLink &m_link;
    const ComMap &m_ports;
    QString m_settingsPath;
    BootImage m_image;
    UploadResult m_lastUpload;

    QString m_fileName, m_folder, m_fullPath;
    bool m_skipActivation = false;
    bool m_activatedOnce = false;
    bool m_activationQueued = false;
    // One handshake or upload at a time; the quit ends once none is waiting.
    serialio::ExchangeGate *m_gate = nullptr;
    bool m_uploading = false; // a file may be chosen while probing, not while uploading
    bool m_quitting = false;
    bool m_quitDone = false;
    bool m_answered = false;           // the boot loader answered the last handshake
    bool m_portLost = false;           // the port broke and that was reported
    QString m_uploadPortLost;          // why the port broke during the upload
    bool m_uploadDisconnected = false; // "Deconnection" during the upload

    QLabel *m_panels[4] = {};
    QLabel *m_info2 = nullptr;
    QPlainTextEdit *m_display = nullptr;
    QComboBox *m_list = nullptr;
    QGroupBox *m_frTemp = nullptr;
    QProgressBar *m_prBar = nullptr;
    QTimer *m_timer1 = nullptr;
};

} // namespace loader
