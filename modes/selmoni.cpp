#include "selmoni.h"

#include "winkit/windowregistry.h"

#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>

namespace modes {

SelMoni::SelMoni(const winkit::Host &host, QWidget *parent) : ChargerWindow(host, parent) {
    setObjectName(QStringLiteral("SelMoni"));
    setWindowTitle(QStringLiteral("Selection Type Moniteur"));
    m_normal = make<QPushButton>("Smode1", QStringLiteral("Mode &Normal"));
    m_equilibrage = make<QPushButton>("Smode2", QStringLiteral("Mode &Equilibrage"));
    m_retour = make<QPushButton>("Smode3", QStringLiteral("&Retour"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(40, 24, 40, 24);
    layout->setSpacing(12);
    for (QPushButton *b : {m_normal, m_equilibrage, m_retour}) {
        b->setMinimumSize(200, 36);
        layout->addWidget(b);
    }
    resize(300, 200);
    // "Mode Equilibrage" has no action.
    m_equilibrage->setToolTip(QStringLiteral("Mode non disponible"));
    connect(m_normal, &QPushButton::clicked, this, &SelMoni::modeNormal);
    connect(m_retour, &QPushButton::clicked, this, &QWidget::close);
    // A choice to make or leave, as a dialog: Escape is "Retour".
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, m_retour, &QPushButton::click);
}

void SelMoni::modeNormal() {
    if (isClosing()) return;
    winkit::WindowRegistry *registry = host().registry;
    const QPointer<QWidget> opener = host().opener;
    close();
    if (registry) registry->open(QStringLiteral("Moni"), opener);
}

} // namespace modes
