#pragma once

#include "csvexport.h"
#include "runlogfile.h"
#include "winkit/chargerwindow.h"

#include <QColor>
#include <QPointer>
#include <functional>
#include <vector>

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPrinter;
class QPushButton;
class QTableWidget;
class QVBoxLayout;

namespace modes {
class RunChart;
}

// The run-log viewer: opens the logs the run windows write, overlays their curves against
// the time since each run began, sums each run up, names the pack a run was made on and
// lists a pack's runs, and exports a run's data as CSV and the chart as PNG, PDF or print.
// It never talks to the charger.
namespace viewer {

class Visionneuse : public winkit::ChargerWindow {
    Q_OBJECT
  public:
    explicit Visionneuse(const winkit::Host &host);

    // Opens the logs; each one refused says why in a box. True when all were opened.
    bool openFiles(const QStringList &paths);
    int runCount() const { return int(m_runs.size()); }
    const RunLog &run(int i) const { return m_runs[size_t(i)].log; }
    void removeRun(int i);
    // Shows or hides a run's curves.
    void setRunShown(int i, bool shown);
    // The curves: a column on the left axis, another (or none: empty) on the right one.
    void setCurves(const QString &left, const QString &right);
    QString leftColumn() const;
    QString rightColumn() const;
    modes::RunChart *chart() const { return m_chart; }
    int selectedRun() const;
    void selectRun(int i);

    // Exports to `path`. A file already there is replaced only when `confirmed` says the user
    // agreed (the save dialog asks); otherwise the export is refused with a message.
    bool exportCsv(int run, const QString &path, bool confirmed = false);
    bool exportPng(const QString &path, bool confirmed = false);
    bool exportPdf(const QString &path, bool confirmed = false);
    bool printChart(QPrinter &printer);
    void setCsvFormat(const CsvFormat &format);
    CsvFormat csvFormat() const;

    // Names the pack of the selected run from the pack field.
    bool namePack();
    // The table of the selected run's pack, over the folders of the logs open.
    void showPackHistory();

  private:
    struct Run {
        RunLog log;
        int number = 0; // in the order opened: names the run in the legend
        QColor colour;
        bool shown = true;
    };
    void chooseFiles();
    void chooseCsv();
    void chooseImage(bool pdf);
    void choosePrint();
    void rebuildCurveChoices();
    void rebuildChart();
    void rebuildSummary();
    void showRunInfo();
    bool writeExport(const QString &path, bool confirmed,
                     const std::function<bool(QString &error)> &write);
    QStringList folders() const;
    QString runLabel(const Run &r) const;

    std::vector<Run> m_runs;
    int m_opened = 0;
    QString m_lastFolder;

    QListWidget *m_list;
    QComboBox *m_left;
    QComboBox *m_right;
    QComboBox *m_separator;
    QComboBox *m_decimal;
    QVBoxLayout *m_chartBox;
    modes::RunChart *m_chart = nullptr;
    QTableWidget *m_summary;
    QLabel *m_info;
    QLineEdit *m_pack;
    QPushButton *m_packButton;
    QPushButton *m_historyButton;
    QPushButton *m_remove;
    QPushButton *m_csv;
};

} // namespace viewer
