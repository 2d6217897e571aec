#include "assocport.h"

#include "serial/commap.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

AssocPort::AssocPort(const serialio::ComMap &ports, int number, QWidget *parent)
    : QDialog(parent), m_ports(ports) {
    setObjectName(QStringLiteral("AssocPort"));
    setWindowTitle(QStringLiteral("Associer un port com"));

    m_number = new QComboBox(this);
    m_number->setObjectName(QStringLiteral("CmbCom"));
    for (int n = 1; n <= ports.ports(); ++n)
        m_number->addItem(QStringLiteral("COM %1").arg(n), n);
    m_number->setCurrentIndex(qBound(0, number - 1, ports.ports() - 1));

    m_current = new QLabel(this);
    m_current->setObjectName(QStringLiteral("LbActuel"));
    m_current->setTextInteractionFlags(Qt::TextSelectableByMouse);

    m_list = new QListWidget(this);
    m_list->setObjectName(QStringLiteral("ListPeriph"));
    m_list->setMinimumSize(420, 120);

    auto *refresh = new QPushButton(QStringLiteral("A&ctualiser la liste"), this);
    refresh->setObjectName(QStringLiteral("CbActualiser"));

    m_path = new QLineEdit(this);
    m_path->setObjectName(QStringLiteral("TxtChemin"));
    m_path->setPlaceholderText(QStringLiteral("par exemple /dev/ttyUSB0"));

    auto *buttons = new QDialogButtonBox(this);
    m_ok = buttons->addButton(QStringLiteral("&Associer"), QDialogButtonBox::AcceptRole);
    m_ok->setObjectName(QStringLiteral("CbAssocier"));
    QPushButton *cancel =
        buttons->addButton(QStringLiteral("Annuler"), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("CbAnnuler"));

    auto *form = new QFormLayout;
    auto *numberLabel = new QLabel(QStringLiteral("&Port :"), this);
    numberLabel->setBuddy(m_number);
    form->addRow(numberLabel, m_number);
    form->addRow(QString(), m_current);

    auto *listLabel = new QLabel(QStringLiteral("Ports série &trouvés :"), this);
    listLabel->setBuddy(m_list);
    auto *listHead = new QHBoxLayout;
    listHead->addWidget(listLabel);
    listHead->addStretch();
    listHead->addWidget(refresh);

    auto *pathLabel = new QLabel(QStringLiteral("C&hemin du périphérique :"), this);
    pathLabel->setBuddy(m_path);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(listHead);
    layout->addWidget(m_list);
    layout->addWidget(pathLabel);
    layout->addWidget(m_path);
    auto *kept =
        new QLabel(QStringLiteral("Le choix est gardé pour les prochains lancements."), this);
    kept->setObjectName(QStringLiteral("LbGarde"));
    layout->addWidget(kept);
    layout->addWidget(buttons);

    connect(m_number, &QComboBox::currentIndexChanged, this, &AssocPort::showCurrent);
    connect(refresh, &QPushButton::clicked, this, &AssocPort::refreshDevices);
    connect(m_list, &QListWidget::currentItemChanged, this, [this](QListWidgetItem *item) {
        if (item && item->flags().testFlag(Qt::ItemIsEnabled))
            m_path->setText(item->data(Qt::UserRole).toString());
    });
    connect(m_list, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem *item) {
        if (item->flags().testFlag(Qt::ItemIsEnabled) && m_ok->isEnabled()) accept();
    });
    connect(m_path, &QLineEdit::textChanged, this, &AssocPort::updateButtons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    refreshDevices();
    showCurrent();
    updateButtons();
}

int AssocPort::chosenNumber() const {
    return m_number->currentData().toInt();
}

QString AssocPort::chosenDevice() const {
    return m_path->text().trimmed();
}

void AssocPort::refreshDevices() {
    const QString keep = chosenDevice();
    const QList<serialio::SerialDevice> devices = serialio::serialDevices();
    m_list->clear();
    for (const serialio::SerialDevice &d : devices) {
        auto *item = new QListWidgetItem(serialio::deviceLine(d), m_list);
        item->setData(Qt::UserRole, d.device);
        QStringList about;
        if (!d.manufacturer.isEmpty()) about << QStringLiteral("Fabricant : ") + d.manufacturer;
        if (!d.serialNumber.isEmpty())
            about << QStringLiteral("Numéro de série : ") + d.serialNumber;
        if (!about.isEmpty()) item->setToolTip(about.join(QLatin1Char('\n')));
    }
    if (devices.isEmpty()) {
        auto *none = new QListWidgetItem(
            QStringLiteral("Aucun port série trouvé : indiquez le chemin ci-dessous."), m_list);
        none->setFlags(Qt::NoItemFlags);
    }
    // The list follows the path: the device typed or mapped stays picked after a refresh.
    const QString wanted = keep.isEmpty() ? m_ports.device(chosenNumber()) : keep;
    for (int i = 0; i < m_list->count(); ++i)
        if (m_list->item(i)->data(Qt::UserRole).toString() == wanted && !wanted.isEmpty()) {
            m_list->setCurrentRow(i);
            break;
        }
    if (keep.isEmpty()) m_path->setText(wanted);
}

void AssocPort::showCurrent() {
    const QString dev = m_ports.device(chosenNumber());
    m_current->setText(dev.isEmpty() ? QStringLiteral("Actuellement : aucun périphérique")
                                     : QStringLiteral("Actuellement : ") + dev);
}

void AssocPort::updateButtons() {
    m_ok->setEnabled(!chosenDevice().isEmpty());
}
