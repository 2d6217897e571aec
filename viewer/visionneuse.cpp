#include "visionneuse.h"

#include "link/messages.h"
#include "modes/chartdata.h"
#include "modes/runchart.h"
#include "packhistory.h"

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QSplitter>
#include <QStandardPaths>
#include <QTableWidget>
#include <QVBoxLayout>
#include <cmath>

namespace viewer {

namespace {

// Distinct on white, in the order runs are opened.
const QColor kColours[] = {QColor(0, 90, 200),    QColor(210, 60, 30), QColor(0, 150, 70),
                           QColor(150, 60, 170),  QColor(200, 140, 0), QColor(0, 150, 160),
                           QColor(120, 120, 120), QColor(170, 30, 100)};

const QString kNone = QStringLiteral("(aucune)");

QString number(const std::optional<double> &v, const QString &unit) {
    if (!v) return QStringLiteral("—");
    QString t = QLocale().toString(*v, 'f', std::fabs(*v - std::round(*v)) < 1e-9 ? 0 : 2);
    return unit.isEmpty() ? t : t + QLatin1Char(' ') + unit;
}

QIcon swatch(const QColor &c) {
    QPixmap p(12, 12);
    p.fill(c);
    return QIcon(p);
}

} // namespace

Visionneuse::Visionneuse(const winkit::Host &host) : ChargerWindow(host) {
    setObjectName(QStringLiteral("Visionneuse"));
    setWindowTitle(QStringLiteral("Visionneuse de journaux"));

    auto *open = make<QPushButton>("CbOuvrir", QStringLiteral("&Ouvrir…"));
    m_remove = make<QPushButton>("CbRetirer", QStringLiteral("&Retirer"));
    m_csv = make<QPushButton>("CbCsv", QStringLiteral("Exporter &CSV…"));
    auto *png = make<QPushButton>("CbPng", QStringLiteral("Exporter P&NG…"));
    auto *pdf = make<QPushButton>("CbPdf", QStringLiteral("Exporter P&DF…"));
    auto *print = make<QPushButton>("CbImprimer", QStringLiteral("&Imprimer…"));
    auto *quit = make<QPushButton>("CbFermer", QStringLiteral("&Fermer"));

    m_list = make<QListWidget>("ListeJournaux");
    m_list->setToolTip(QStringLiteral("Cochez les journaux à superposer"));
    m_left = make<QComboBox>("CbxGauche");
    m_right = make<QComboBox>("CbxDroite");
    m_separator = make<QComboBox>("CbxSeparateur");
    m_separator->addItem(QStringLiteral("; (point-virgule)"), QStringLiteral(";"));
    m_separator->addItem(QStringLiteral(", (virgule)"), QStringLiteral(","));
    m_separator->addItem(QStringLiteral("Tabulation"), QStringLiteral("\t"));
    m_decimal = make<QComboBox>("CbxDecimale");
    m_decimal->addItem(QStringLiteral(", (virgule)"), QStringLiteral(","));
    m_decimal->addItem(QStringLiteral(". (point)"), QStringLiteral("."));
    setCsvFormat(defaultCsvFormat(QLocale()));

    m_summary = make<QTableWidget>("TableResume", 0, 8);
    m_summary->setHorizontalHeaderLabels(
        {QStringLiteral("Journal"), QStringLiteral("Type"), QStringLiteral("Début"),
         QStringLiteral("Durée"), QStringLiteral("Capacité"), QStringLiteral("Tension max"),
         QStringLiteral("Température max"), QStringLiteral("Fin")});
    m_summary->verticalHeader()->hide();
    m_summary->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_summary->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_summary->setSelectionMode(QAbstractItemView::SingleSelection);
    m_summary->horizontalHeader()->setStretchLastSection(true);

    m_info = make<QLabel>("LbInfo");
    m_info->setWordWrap(true);
    m_info->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_info->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    m_pack = make<QLineEdit>("TxPack");
    m_pack->setPlaceholderText(QStringLiteral("nom du pack"));
    m_packButton = make<QPushButton>("CbPack", QStringLiteral("Nommer"));
    m_historyButton = make<QPushButton>("CbHistorique", QStringLiteral("&Historique du pack…"));

    // Left column: the runs, the curves, the CSV format.
    auto *left = new QVBoxLayout;
    auto *fileRow = new QHBoxLayout;
    fileRow->addWidget(open);
    fileRow->addWidget(m_remove);
    left->addLayout(fileRow);
    left->addWidget(new QLabel(QStringLiteral("Journaux ouverts"), this));
    left->addWidget(m_list, 1);
    auto *curves = new QGroupBox(QStringLiteral("Courbes"), this);
    auto *cf = new QFormLayout(curves);
    cf->addRow(QStringLiteral("Axe gauche"), m_left);
    cf->addRow(QStringLiteral("Axe droit"), m_right);
    left->addWidget(curves);
    auto *packBox = new QGroupBox(QStringLiteral("Journal choisi"), this);
    auto *pl = new QVBoxLayout(packBox);
    pl->addWidget(m_info);
    auto *packRow = new QHBoxLayout;
    packRow->addWidget(new QLabel(QStringLiteral("Pack"), this));
    packRow->addWidget(m_pack, 1);
    packRow->addWidget(m_packButton);
    pl->addLayout(packRow);
    pl->addWidget(m_historyButton);
    left->addWidget(packBox);
    auto *csvBox = new QGroupBox(QStringLiteral("Format CSV"), this);
    auto *csvForm = new QFormLayout(csvBox);
    csvForm->addRow(QStringLiteral("Séparateur"), m_separator);
    csvForm->addRow(QStringLiteral("Décimale"), m_decimal);
    left->addWidget(csvBox);
    auto *leftWidget = new QWidget(this);
    leftWidget->setLayout(left);
    leftWidget->setMaximumWidth(320);

    auto *chartHolder = new QWidget(this);
    m_chartBox = new QVBoxLayout(chartHolder);
    m_chartBox->setContentsMargins(0, 0, 0, 0);

    auto *rightSplit = new QSplitter(Qt::Vertical, this);
    rightSplit->addWidget(chartHolder);
    rightSplit->addWidget(m_summary);
    rightSplit->setStretchFactor(0, 3);
    rightSplit->setStretchFactor(1, 1);

    auto *buttons = new QHBoxLayout;
    for (QPushButton *b : {m_csv, png, pdf, print})
        buttons->addWidget(b);
    buttons->addStretch(1);
    buttons->addWidget(quit);

    auto *main = new QHBoxLayout;
    main->addWidget(leftWidget);
    main->addWidget(rightSplit, 1);
    auto *outer = new QVBoxLayout(this);
    outer->addLayout(main, 1);
    outer->addLayout(buttons);
    resize(1180, 760);

    connect(open, &QPushButton::clicked, this, &Visionneuse::chooseFiles);
    connect(m_remove, &QPushButton::clicked, this, [this] {
        if (selectedRun() >= 0) removeRun(selectedRun());
    });
    connect(m_csv, &QPushButton::clicked, this, &Visionneuse::chooseCsv);
    connect(png, &QPushButton::clicked, this, [this] { chooseImage(false); });
    connect(pdf, &QPushButton::clicked, this, [this] { chooseImage(true); });
    connect(print, &QPushButton::clicked, this, &Visionneuse::choosePrint);
    connect(quit, &QPushButton::clicked, this, &QWidget::close);
    connect(m_left, &QComboBox::currentIndexChanged, this, &Visionneuse::rebuildChart);
    connect(m_right, &QComboBox::currentIndexChanged, this, &Visionneuse::rebuildChart);
    connect(m_list, &QListWidget::itemChanged, this, [this](QListWidgetItem *item) {
        const int i = m_list->row(item);
        if (i < 0 || i >= runCount()) return;
        const bool shown = item->checkState() == Qt::Checked;
        if (m_runs[size_t(i)].shown == shown) return;
        m_runs[size_t(i)].shown = shown;
        rebuildChart();
    });
    connect(m_list, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row >= 0 && row < m_summary->rowCount() && m_summary->currentRow() != row)
            m_summary->selectRow(row);
        showRunInfo();
    });
    connect(m_summary, &QTableWidget::currentCellChanged, this, [this](int row) {
        if (row >= 0 && m_list->currentRow() != row) m_list->setCurrentRow(row);
    });
    connect(m_packButton, &QPushButton::clicked, this, &Visionneuse::namePack);
    connect(m_pack, &QLineEdit::returnPressed, this, &Visionneuse::namePack);
    connect(m_historyButton, &QPushButton::clicked, this, &Visionneuse::showPackHistory);
    rebuildChart();
    showRunInfo();
}

// ---------------------------------------------------------------- runs

bool Visionneuse::openFiles(const QStringList &paths) {
    bool all = true;
    QStringList refused;
    for (const QString &path : paths) {
        const QString abs = QFileInfo(path).absoluteFilePath();
        bool already = false;
        for (const Run &r : m_runs)
            already = already || r.log.path == abs;
        if (already) continue;
        ReadResult read = readRunLogFile(path);
        if (!read.log) {
            refused << read.error;
            all = false;
            continue;
        }
        Run run;
        run.log = std::move(*read.log);
        run.number = ++m_opened;
        run.colour = kColours[(run.number - 1) % int(std::size(kColours))];
        m_runs.push_back(std::move(run));
        m_lastFolder = QFileInfo(abs).absolutePath();
    }
    {
        const QSignalBlocker block(m_list);
        m_list->clear();
        for (const Run &r : m_runs) {
            auto *item = new QListWidgetItem(swatch(r.colour), runLabel(r), m_list);
            item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
            item->setCheckState(r.shown ? Qt::Checked : Qt::Unchecked);
            item->setToolTip(QDir::toNativeSeparators(r.log.path));
        }
    }
    rebuildCurveChoices();
    rebuildSummary();
    rebuildChart();
    if (m_list->currentRow() < 0 && runCount() > 0) m_list->setCurrentRow(runCount() - 1);
    showRunInfo();
    if (!refused.isEmpty()) chlink::errorBox(this, refused.join(QStringLiteral("\n\n")));
    return all;
}

void Visionneuse::removeRun(int i) {
    if (i < 0 || i >= runCount()) return;
    m_runs.erase(m_runs.begin() + i);
    {
        const QSignalBlocker block(m_list);
        delete m_list->takeItem(i);
    }
    rebuildCurveChoices();
    rebuildSummary();
    rebuildChart();
    showRunInfo();
}

void Visionneuse::setRunShown(int i, bool shown) {
    if (i < 0 || i >= runCount()) return;
    m_list->item(i)->setCheckState(shown ? Qt::Checked : Qt::Unchecked);
}

int Visionneuse::selectedRun() const {
    const int r = m_list->currentRow();
    return r >= 0 && r < runCount() ? r : -1;
}

void Visionneuse::selectRun(int i) {
    m_list->setCurrentRow(i);
}

QString Visionneuse::runLabel(const Run &r) const {
    QString label = QStringLiteral("%1. ").arg(r.number) + QFileInfo(r.log.path).completeBaseName();
    if (r.log.info && !r.log.info->pack.isEmpty())
        label += QStringLiteral(" — ") + r.log.info->pack;
    return label;
}

QStringList Visionneuse::folders() const {
    QStringList f;
    for (const Run &r : m_runs) {
        const QString d = QFileInfo(r.log.path).absolutePath();
        if (!f.contains(d)) f << d;
    }
    return f;
}

// ---------------------------------------------------------------- curves

void Visionneuse::rebuildCurveChoices() {
    // The columns that can be drawn, in the order the open logs list them.
    QStringList names;
    for (const Run &r : m_runs)
        for (const ColumnInfo &c : r.log.columns)
            if (c.plottable && !names.contains(c.name)) names << c.name;
    const QString left = leftColumn(),
                  right = m_right->currentIndex() < 0 ? QStringLiteral("?") : rightColumn();
    const QSignalBlocker b1(m_left), b2(m_right);
    m_left->clear();
    m_right->clear();
    m_right->addItem(kNone, QString());
    for (const QString &n : names) {
        m_left->addItem(n, n);
        m_right->addItem(n, n);
    }
    const auto pick = [&names](const QString &was, const QStringList &preferred) -> QString {
        if (names.contains(was)) return was;
        for (const QString &p : preferred)
            if (names.contains(p)) return p;
        return {};
    };
    const QString l = pick(left, {QStringLiteral("VBAT"), QStringLiteral("VBat")});
    const QString r = right == QStringLiteral("?") || (!right.isEmpty() && !names.contains(right))
                          ? pick(QString(), {QStringLiteral("ICHRG"), QStringLiteral("Cour")})
                          : right;
    m_left->setCurrentIndex(std::max(0, m_left->findData(l)));
    m_right->setCurrentIndex(std::max(0, m_right->findData(r)));
}

QString Visionneuse::leftColumn() const {
    return m_left->currentData().toString();
}

QString Visionneuse::rightColumn() const {
    return m_right->currentData().toString();
}

void Visionneuse::setCurves(const QString &left, const QString &right) {
    const QSignalBlocker b1(m_left), b2(m_right);
    const int l = m_left->findData(left);
    if (l >= 0) m_left->setCurrentIndex(l);
    const int r = m_right->findData(right);
    m_right->setCurrentIndex(r >= 0 ? r : 0);
    rebuildChart();
}

void Visionneuse::rebuildChart() {
    const QString left = leftColumn(), right = rightColumn();
    // The axis title carries the unit of the first run that has the column.
    const auto titleOf = [this](const QString &name) -> QString {
        if (name.isEmpty()) return {};
        for (const Run &r : m_runs)
            if (const int c = r.log.columnIndex(name); c >= 0)
                return r.log.columns[size_t(c)].title();
        return name;
    };
    auto *chart = new modes::RunChart(runCount() > 1 ? QStringLiteral("Comparaison de journaux")
                                                     : QStringLiteral("Journal"),
                                      titleOf(left), titleOf(right), this);
    chart->setObjectName(QStringLiteral("GraphJournaux"));
    for (const Run &r : m_runs) {
        if (!r.shown) continue;
        // Short, so that the legend of several runs fits: the run's number in the list.
        const QString label = QString::number(r.number);
        const auto add = [&](const QString &name, modes::RunChart::Side side,
                             const QColor &colour) {
            const int c = r.log.columnIndex(name);
            if (name.isEmpty() || c < 0) return;
            const int curve = chart->addCurve(label + QStringLiteral(". ") + name, side, colour);
            const auto &values = r.log.values[size_t(c)];
            for (size_t i = 0; i < r.log.records(); ++i)
                chart->append(curve, r.log.elapsed[i], values[i]);
        };
        add(left, modes::RunChart::Left, r.colour);
        // The same run's second curve in a lighter shade of its colour.
        add(right, modes::RunChart::Right, r.colour.lighter(160));
    }
    if (m_chart) {
        m_chartBox->removeWidget(m_chart);
        m_chart->deleteLater();
    }
    m_chart = chart;
    m_chartBox->addWidget(m_chart);
    m_chart->refresh();
}

// ---------------------------------------------------------------- summary and pack

void Visionneuse::rebuildSummary() {
    m_summary->setRowCount(runCount());
    for (int i = 0; i < runCount(); ++i) {
        const RunLog &log = m_runs[size_t(i)].log;
        const RunSummary s = summarise(log);
        const QString volts = s.raw ? QStringLiteral("(brut)") : QStringLiteral("V");
        const QString degrees = s.raw ? QStringLiteral("(brut)") : QStringLiteral("°C");
        const QDateTime began = log.start();
        const QString start =
            began.isValid() ? QLocale().toString(began, QLocale::ShortFormat) : QStringLiteral("—");
        QString end = s.endReason.isEmpty() ? QStringLiteral("—") : s.endReason;
        if (log.lastLineCut) end += QStringLiteral(" (dernière ligne coupée)");
        const QStringList cells = {runLabel(m_runs[size_t(i)]),
                                   kindName(log.kind),
                                   start,
                                   modes::timeReadout(s.duration),
                                   number(s.capacityMah, QStringLiteral("mAh")),
                                   number(s.peakVoltage, volts),
                                   number(s.maxTemperature, degrees),
                                   end};
        for (int c = 0; c < cells.size(); ++c) {
            auto *item = new QTableWidgetItem(cells[c]);
            if (c == 0) item->setIcon(swatch(m_runs[size_t(i)].colour));
            m_summary->setItem(i, c, item);
        }
    }
    m_summary->resizeColumnsToContents();
}

void Visionneuse::showRunInfo() {
    const int i = selectedRun();
    const bool any = i >= 0;
    m_pack->setEnabled(any);
    m_packButton->setEnabled(any);
    m_historyButton->setEnabled(any);
    m_remove->setEnabled(any);
    m_csv->setEnabled(any);
    if (!any) {
        m_info->setText(QStringLiteral("Aucun journal ouvert."));
        m_pack->clear();
        return;
    }
    const RunLog &log = m_runs[size_t(i)].log;
    QStringList lines{
        QStringLiteral("%1 — %2").arg(kindName(log.kind), QFileInfo(log.path).fileName())};
    if (!log.info) {
        lines << QStringLiteral("Pas de fiche de mesure à côté de ce journal.");
        m_pack->clear();
    } else {
        const modes::RunInfo &in = *log.info;
        const auto add = [&lines](const QString &label, const QString &value) {
            if (!value.isEmpty()) lines << label + QStringLiteral(" : ") + value;
        };
        if (in.start.isValid())
            add(QStringLiteral("Début"), QLocale().toString(in.start, QLocale::LongFormat));
        add(QStringLiteral("Fenêtre"), in.window);
        add(QStringLiteral("Réglage"), in.setpoint);
        if (in.cells > 0) add(QStringLiteral("Éléments"), QString::number(in.cells));
        add(QStringLiteral("Chimie"), in.chemistry);
        add(QStringLiteral("Port"), in.port);
        add(QStringLiteral("Fin"), in.endReason);
        add(QStringLiteral("Version"), in.version);
        m_pack->setText(in.pack);
    }
    const RunSummary s = summarise(log);
    if (s.resistance)
        lines << QStringLiteral("Résistance interne : %1")
                     .arg(number(s.resistance, QStringLiteral("mΩ")));
    m_info->setText(lines.join(QLatin1Char('\n')));
}

bool Visionneuse::namePack() {
    const int i = selectedRun();
    if (i < 0) return false;
    Run &r = m_runs[size_t(i)];
    QString error;
    if (!setPack(r.log.path, m_pack->text(), &error)) {
        chlink::errorBox(this, QStringLiteral("Impossible d'enregistrer le nom du pack à côté de "
                                              "%1 : %2")
                                   .arg(QDir::toNativeSeparators(r.log.path), error));
        return false;
    }
    r.log.info = modes::readRunInfo(r.log.path);
    if (QListWidgetItem *item = m_list->item(i)) item->setText(runLabel(r));
    showRunInfo();
    return true;
}

void Visionneuse::showPackHistory() {
    const int i = selectedRun();
    const QString pack =
        i >= 0 && m_runs[size_t(i)].log.info ? m_runs[size_t(i)].log.info->pack : QString();
    if (pack.trimmed().isEmpty()) {
        chlink::infoBox(this, QStringLiteral("Ce journal n'appartient à aucun pack : donnez-lui "
                                             "d'abord un nom de pack."));
        return;
    }
    const std::vector<PackRun> runs = packHistory(folders(), pack);
    QDialog dialog(this);
    dialog.setObjectName(QStringLiteral("HistoriquePack"));
    dialog.setWindowTitle(QStringLiteral("Historique du pack %1").arg(pack));
    auto *table = new QTableWidget(int(runs.size()), 5, &dialog);
    table->setObjectName(QStringLiteral("TableHistorique"));
    table->setHorizontalHeaderLabels({QStringLiteral("Date"), QStringLiteral("Type"),
                                      QStringLiteral("Durée"), QStringLiteral("Capacité (mAh)"),
                                      QStringLiteral("Résistance (mΩ)")});
    table->verticalHeader()->hide();
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    for (int r = 0; r < int(runs.size()); ++r) {
        const PackRun &run = runs[size_t(r)];
        const QStringList cells = {QLocale().toString(run.start, QLocale::ShortFormat),
                                   kindName(run.kind), modes::timeReadout(run.duration),
                                   number(run.capacityMah, QString()),
                                   number(run.resistance, QString())};
        for (int c = 0; c < cells.size(); ++c)
            table->setItem(r, c, new QTableWidgetItem(cells[c]));
    }
    table->resizeColumnsToContents();
    auto *box = new QDialogButtonBox(QDialogButtonBox::Close, &dialog);
    connect(box, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto *layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel(QStringLiteral("Journaux des dossiers ouverts dont la fiche porte "
                                                "le pack « %1 »")
                                     .arg(pack),
                                 &dialog));
    layout->addWidget(table);
    layout->addWidget(box);
    dialog.resize(620, 360);
    dialog.exec();
}

// ---------------------------------------------------------------- exports

void Visionneuse::setCsvFormat(const CsvFormat &format) {
    const int s = m_separator->findData(QString(format.separator));
    if (s >= 0) m_separator->setCurrentIndex(s);
    const int d = m_decimal->findData(QString(format.decimalPoint));
    if (d >= 0) m_decimal->setCurrentIndex(d);
}

CsvFormat Visionneuse::csvFormat() const {
    return {m_separator->currentData().toString().at(0), m_decimal->currentData().toString().at(0)};
}

// Writes one export: never over an existing file unless the user agreed (the file dialog
// asks), and a failure said in a box.
bool Visionneuse::writeExport(const QString &path, bool confirmed,
                              const std::function<bool(QString &error)> &write) {
    const QString shown = QDir::toNativeSeparators(path);
    if (!confirmed && QFileInfo::exists(path)) {
        chlink::errorBox(
            this,
            QStringLiteral("Le fichier %1 existe déjà ; il n'a pas été remplacé.").arg(shown));
        return false;
    }
    QString error;
    if (write(error)) return true;
    chlink::errorBox(this, QStringLiteral("Impossible d'écrire %1 : %2").arg(shown, error));
    return false;
}

bool Visionneuse::exportCsv(int run, const QString &path, bool confirmed) {
    if (run < 0 || run >= runCount()) return false;
    const CsvFormat format = csvFormat();
    if (const QString bad = checkFormat(format); !bad.isEmpty()) {
        chlink::errorBox(this, bad);
        return false;
    }
    return writeExport(path, confirmed, [&](QString &error) {
        return writeCsv(path, m_runs[size_t(run)].log, format, true, &error);
    });
}

bool Visionneuse::exportPng(const QString &path, bool confirmed) {
    return writeExport(path, confirmed,
                       [&](QString &error) { return m_chart->writePng(path, error); });
}

bool Visionneuse::exportPdf(const QString &path, bool confirmed) {
    return writeExport(path, confirmed,
                       [&](QString &error) { return m_chart->writePdf(path, error); });
}

bool Visionneuse::printChart(QPrinter &printer) {
    printer.setPageOrientation(QPageLayout::Landscape);
    QPainter p;
    if (!p.begin(&printer)) {
        chlink::errorBox(this, QStringLiteral("L'impression n'a pas pu commencer."));
        return false;
    }
    const QSizeF size = m_chart->size();
    const QRect page = printer.pageLayout().paintRectPixels(printer.resolution());
    const double k = std::min(page.width() / size.width(), page.height() / size.height());
    p.scale(k, k);
    m_chart->render(p, size, 2);
    return p.end();
}

void Visionneuse::chooseFiles() {
    const QString dir = m_lastFolder.isEmpty() ? QDir::currentPath() : m_lastFolder;
    const QStringList paths =
        QFileDialog::getOpenFileNames(this, QStringLiteral("Ouvrir des journaux"), dir,
                                      QStringLiteral("Journaux (*.txt);;Tous les fichiers (*)"));
    if (!paths.isEmpty()) openFiles(paths);
}

namespace {
QString documents(const QString &folder) {
    const QString d = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return d.isEmpty() ? folder : d;
}
} // namespace

void Visionneuse::chooseCsv() {
    const int i = selectedRun();
    if (i < 0) return;
    const QFileInfo log(m_runs[size_t(i)].log.path);
    const QString path =
        chlink::saveFileName(this, QStringLiteral("Exporter en CSV"),
                             QDir(documents(log.absolutePath()))
                                 .filePath(log.completeBaseName() + QStringLiteral(".csv")),
                             QStringLiteral("Fichier CSV (*.csv)"));
    if (path.isEmpty()) return;
    // The dialog has asked before replacing the name it returned.
    exportCsv(i, path, true);
}

void Visionneuse::chooseImage(bool pdf) {
    const QString suffix = pdf ? QStringLiteral(".pdf") : QStringLiteral(".png");
    QString path = chlink::saveFileName(
        this,
        pdf ? QStringLiteral("Exporter le graphique en PDF")
            : QStringLiteral("Exporter le graphique en image PNG"),
        QDir(documents(m_lastFolder)).filePath(QStringLiteral("journaux") + suffix),
        pdf ? QStringLiteral("Document PDF (*.pdf)") : QStringLiteral("Image PNG (*.png)"));
    if (path.isEmpty()) return;
    bool confirmed = true;
    if (!path.endsWith(suffix, Qt::CaseInsensitive)) {
        // The dialog asked about the name as typed, not about this one.
        path += suffix;
        if (QFileInfo::exists(path)) {
            if (!chlink::askYesNoRisky(this, QStringLiteral("Le fichier %1 existe déjà.\n"
                                                            "Voulez-vous le remplacer ?")
                                                 .arg(QDir::toNativeSeparators(path))))
                return;
        }
    }
    if (pdf)
        exportPdf(path, confirmed);
    else
        exportPng(path, confirmed);
}

void Visionneuse::choosePrint() {
    QPrinter printer;
    QPrintDialog dialog(&printer, this);
    dialog.setObjectName(QStringLiteral("DialImpression"));
    if (dialog.exec() != QDialog::Accepted) return;
    printChart(printer);
}

} // namespace viewer
