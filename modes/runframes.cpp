#include "runframes.h"

#include "keepawake.h"
#include "winkit/chargerwindow.h"

#include <QFontMetrics>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace modes {

QGroupBox *clockFrame(QWidget *window, const char *frameName, const char *const names[3],
                      QLabel *labels[3]) {
    auto *clock = winkit::makeNamed<QGroupBox>(window, frameName, QStringLiteral("HORLOGE"));
    auto *cl = new QHBoxLayout(clock);
    QFont big = window->font();
    big.setPointSizeF(big.pointSizeF() * 1.6);
    big.setBold(true);
    for (int i = 0; i < 3; ++i) {
        QLabel *l = labels[i] = winkit::makeNamed<QLabel>(window, names[i], QStringLiteral("00"));
        l->setFont(big);
        l->setAlignment(Qt::AlignCenter);
        l->setMinimumWidth(QFontMetrics(big).horizontalAdvance(QStringLiteral("00")) + 4);
        cl->addWidget(l);
        if (i < 2) {
            auto *sep = new QLabel(QStringLiteral(":"), clock);
            sep->setFont(big);
            cl->addWidget(sep);
        }
    }
    return clock;
}

QGroupBox *stateFrame(QWidget *window, const char *frameName, const char *labelName, double scale,
                      const QString &longest, QLabel **state, QVBoxLayout **layout) {
    auto *frame = winkit::makeNamed<QGroupBox>(window, frameName, QStringLiteral("ETAT"));
    auto *sl = new QVBoxLayout(frame);
    QLabel *l = *state = winkit::makeNamed<QLabel>(window, labelName);
    QFont bold = window->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * scale);
    l->setFont(bold);
    l->setAlignment(Qt::AlignCenter);
    l->setMinimumWidth(QFontMetrics(bold).horizontalAdvance(longest) + 10);
    sl->addWidget(l);
    if (layout) *layout = sl;
    return frame;
}

void setTabChain(std::initializer_list<QWidget *> widgets) {
    QWidget *previous = nullptr;
    for (QWidget *w : widgets) {
        if (previous) QWidget::setTabOrder(previous, w);
        previous = w;
    }
}

QLabel *sleepNote(QWidget *window, const KeepAwake &awake) {
    auto *note = winkit::makeNamed<QLabel>(window, "LbVeille");
    note->setWordWrap(true);
    note->setAlignment(Qt::AlignCenter);
    note->hide();
    QObject::connect(&awake, &KeepAwake::refused, note, [note](const QString &why) {
        if (!note->isHidden()) return;
        note->setText(QStringLiteral("Veille du PC non bloquée"));
        note->setToolTip(QStringLiteral("Le système refuse de bloquer la mise en veille "
                                        "(%1) : le PC peut s'endormir pendant la mesure.")
                             .arg(why));
        note->show();
    });
    return note;
}

} // namespace modes
