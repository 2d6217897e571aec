#include "reglage.h"

#include "link/messages.h"
#include "link/session.h"
#include "winkit/windowregistry.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>

namespace calib {

const QStringList &Reglage::entryWindows() {
    static const QStringList ids = {
        QStringLiteral("Temper"),   QStringLiteral("Vout"),        QStringLiteral("Vfiltrage"),
        QStringLiteral("Rcourant"), QStringLiteral("RglDech"),     QStringLiteral("RegLIPO"),
        QStringLiteral("RegPB"),    QStringLiteral("Reglageauto"),
    };
    return ids;
}

Reglage::Reglage(const winkit::Host &host, QWidget *parent) : winkit::ChargerWindow(host, parent) {
    setObjectName(QStringLiteral("Reglage"));
    setWindowTitle(QStringLiteral("Mode Reglage"));
    auto *col = new QVBoxLayout(this);
    col->setContentsMargins(24, 20, 24, 20);
    col->setSpacing(12);
    QLabel *info = make<QLabel>("Info1", QStringLiteral("&Selectionnez une option"));
    col->addWidget(info);
    m_list = make<QComboBox>("SelRegl");
    info->setBuddy(m_list);
    m_list->addItems({QStringLiteral("Temperature"), QStringLiteral("Tension Batterie"),
                      QStringLiteral("Tensions Alimentations"), QStringLiteral("Courrant Charge"),
                      QStringLiteral("Courrant Décharge"), QStringLiteral("Tensions LIPO"),
                      QStringLiteral("Tensions Pb"), QStringLiteral("Courants Modes Auto")});
    m_list->setCurrentIndex(-1); // no entry is preselected
    m_list->setPlaceholderText(QStringLiteral("(choisir)"));
    col->addWidget(m_list);
    col->addStretch();
    auto *row = new QHBoxLayout;
    row->addStretch();
    auto *quit = make<QPushButton>("Rquitter", QStringLiteral("&Retour"));
    quit->setMinimumWidth(100);
    row->addWidget(quit);
    col->addLayout(row);
    connect(m_list, &QComboBox::activated, this, &Reglage::choose);
    connect(quit, &QPushButton::clicked, this, &Reglage::leave);
    // A choice to make or leave, as a dialog: Escape is "Retour".
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, quit, &QPushButton::click);
    resize(8000 / 15, 190); // 8000 twips wide
}

void Reglage::choose(int index) {
    if (isClosing()) return;
    winkit::WindowRegistry *registry = host().registry;
    if (!registry) return;
    // The managed windows close first, even when nothing opens for want of a connection.
    registry->closeGroup(kManagedGroup, this);
    if (index < 0 || index >= entryWindows().size()) return;
    if (!session().connected()) {
        chlink::noConnectionBox(this);
        return;
    }
    openWindow(entryWindows().at(index));
}

void Reglage::aboutToLeave() {
    if (host().registry) host().registry->closeGroup(kManagedGroup, this);
}

} // namespace calib
