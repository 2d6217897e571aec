#pragma once

#include "keepawake.h"
#include "monilogic.h"
#include "runinfo.h"
#include "winkit/chargerwindow.h"

#include <QFile>
#include <functional>
#include <memory>

class QCheckBox;
class QLabel;
class QPrinter;
class QPushButton;

namespace modes {

class RunChart;

// The monitor window: the charger runs on its own and streams a record a second at 19200
// baud; the window listens, writes each record to a comma-separated log when "Fichier" is
// ticked and plots a point every ten records.
//
// Opening it sends command 3 (the charger goes on to its own run and its stream) and
// reopens the port the user chose at 19200 baud; leaving it sets the port up again at 9600
// baud. The listening loop waits for bytes for as long as the charger takes, asleep;
// "Arret" and "QUITTER" end it at once: the whole records already received are taken, a
// record half received is dropped. A port that vanishes ends it too (the main window says
// so).
class Moni : public winkit::ChargerWindow {
    Q_OBJECT
  public:
    explicit Moni(const winkit::Host &host, QWidget *parent = nullptr);
    ~Moni() override;

    // ---- Handlers, public so that tests can call them without the event system ----
    // What opening the window does (once it is shown): command 3, the port at 19200, the
    // chart cleared, the file flag set. False (with a message) when the port will not open.
    bool activate();
    // The port is open at the stream's speed.
    bool streamOpen() const;
    void depart();  // CbDepart: listens until Arret, QUITTER or the port's loss
    void arret();   // CbArret
    void quitter(); // CbQuit
    void print();   // CbPrint: the print dialog, then the window's image
    // Prints the window's image, scaled to the page, on a printer already set up.
    bool printTo(QPrinter &printer);
    // The printer CbPrint offers (kept, with the user's choices, for the next print).
    QPrinter &printer();

    // ---- State ----
    bool isListening() const { return m_running; }
    bool fileFlag() const { return m_fileFlag; }
    bool logOpen() const { return m_log.isOpen(); }
    QString logPath() const { return m_logPath; }
    const moni::ChartTally &tally() const { return m_tally; }
    int rejected() const { return m_sync.rejected(); }
    RunChart *chart() const { return m_chart; }
    const KeepAwake &keepAwake() const { return m_awake; }
    // Which chart curve holds each series: battery, current, temperature, capacity.
    enum Curve { CurveVbat, CurveCour, CurveTemper, CurveCapacite };
    int curve(Curve c) const { return m_curves[c]; }

  protected:
    void showEvent(QShowEvent *e) override;
    void aboutToLeave() override;
    void leaveWhenIdle() override;

  private:
    enum Key { KeyListen };
    void listen();
    // Takes the records among the bytes received so far, until stop() holds.
    void takeReceived(const std::function<bool()> &stop);
    // One record: the log line, the chart point and the captions.
    void take(const moni::Record &r);
    bool openLog();
    void closeLog();
    void endListening(const QString &state);
    void setState(const QString &text);

    QPushButton *m_depart;
    QPushButton *m_arret;
    QPushButton *m_quit;
    QPushButton *m_print;
    QCheckBox *m_chkFich;
    RunChart *m_chart;
    QLabel *m_label1, *m_label2, *m_label3;
    QLabel *m_state;
    QLabel *m_logLabel;
    int m_curves[4] = {};

    bool m_activated = false;
    bool m_running = false;
    bool m_fileFlag = true;
    moni::RecordSync m_sync;
    moni::ChartTally m_tally;
    QFile m_log;
    QString m_logPath;
    // The log's sidecar: written as the log opens, and again with the reason the listening
    // ended.
    RunInfo m_info;
    bool m_infoOpen = false;
    void endRunInfo(const QString &reason);
    KeepAwake m_awake;
    std::unique_ptr<QPrinter> m_printer;
};

} // namespace modes
