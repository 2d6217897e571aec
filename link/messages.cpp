#include "messages.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QFileDialog>
#include <QList>
#include <QMessageBox>
#include <QPointer>
#include <QScopedValueRollback>
#include <QTimer>

namespace chlink {

namespace {
BoxHook &boxHook() {
    static BoxHook h;
    return h;
}
FileHook &fileHook() {
    static FileHook h;
    return h;
}
ShownBoxHook &shownBoxHook() {
    static ShownBoxHook h;
    return h;
}
QString titleOr(const QString &t) {
    return t.isEmpty() ? QCoreApplication::applicationName() : t;
}

// A window that a dialog hands the activation back to when it closes. The window system
// does so at once or a little later; past the grace time the hand-back is forgotten.
struct HandBack {
    QPointer<QWidget> window;
    int id = 0;
    bool open = true;
    QDeadlineTimer until;
};
constexpr int kHandBackGraceMs = 2000;

QList<HandBack> &handBacks() {
    static QList<HandBack> list;
    return list;
}
} // namespace

DialogScope::DialogScope(QWidget *parent) {
    static int lastId = 0;
    QWidget *under = QApplication::activeWindow();
    if (!under && parent) under = parent->window();
    m_id = ++lastId;
    handBacks().append({under, m_id, true, QDeadlineTimer(QDeadlineTimer::Forever)});
}

DialogScope::~DialogScope() {
    for (HandBack &h : handBacks())
        if (h.id == m_id) {
            h.open = false;
            h.until = QDeadlineTimer(kHandBackGraceMs);
        }
}

namespace {

QMessageBox::StandardButton
runBox(QMessageBox::Icon icon, QWidget *parent, const QString &title, const QString &text,
       QMessageBox::StandardButtons buttons,
       QMessageBox::StandardButton defaultButton = QMessageBox::NoButton) {
    QMessageBox box(icon, titleOr(title), text, buttons, parent);
    if (defaultButton != QMessageBox::NoButton) box.setDefaultButton(defaultButton);
    const DialogScope scope(parent);
    if (shownBoxHook())
        QTimer::singleShot(0, &box, [&box] {
            if (shownBoxHook()) shownBoxHook()(&box);
        });
    return QMessageBox::StandardButton(box.exec());
}
} // namespace

void setBoxHook(BoxHook hook) {
    boxHook() = std::move(hook);
}
void setFileHook(FileHook hook) {
    fileHook() = std::move(hook);
}
void setShownBoxHook(ShownBoxHook hook) {
    shownBoxHook() = std::move(hook);
}

void errorBox(QWidget *parent, const QString &text, const QString &title) {
    if (boxHook()) {
        boxHook()({BoxKind::Error, text, title});
        return;
    }
    runBox(QMessageBox::Warning, parent, title, text, QMessageBox::Ok);
}

void infoBox(QWidget *parent, const QString &text, const QString &title) {
    if (boxHook()) {
        boxHook()({BoxKind::Info, text, title, BoxIcon::Information});
        return;
    }
    runBox(QMessageBox::Information, parent, title, text, QMessageBox::Ok);
}

bool askYesNo(QWidget *parent, const QString &text, const QString &title) {
    if (boxHook()) return boxHook()({BoxKind::Question, text, title, BoxIcon::Question});
    return runBox(QMessageBox::Question, parent, title, text, QMessageBox::Yes | QMessageBox::No) ==
           QMessageBox::Yes;
}

bool askYesNoRisky(QWidget *parent, const QString &text, const QString &title) {
    if (boxHook()) return boxHook()({BoxKind::Question, text, title, BoxIcon::Exclamation, true});
    return runBox(QMessageBox::Warning, parent, title, text, QMessageBox::Yes | QMessageBox::No,
                  QMessageBox::No) == QMessageBox::Yes;
}

void noConnectionBox(QWidget *parent) {
    errorBox(parent, QStringLiteral("Pas de connection avec chargeur"));
}

void timeoutBox(QWidget *parent, const QString &context) {
    const QString text = QStringLiteral("Time out sur interface Serie");
    errorBox(parent, context.isEmpty() ? text : context + QLatin1Char('\n') + text);
}

void portErrorBox(QWidget *parent, const QString &reason) {
    static bool showing = false;
    if (showing) return; // the box on screen already says the port failed
    const QScopedValueRollback<bool> guard(showing, true);
    errorBox(parent, QStringLiteral("Erreur port com\n") + reason);
}

void unavailableBox(QWidget *parent) {
    infoBox(parent, QStringLiteral("Cette fenêtre n'est pas encore disponible."));
}

bool activationFromDialog(QWidget *window) {
    QWidget *top = window ? window->window() : nullptr;
    bool found = false;
    auto &list = handBacks();
    for (auto it = list.begin(); it != list.end();) {
        const bool stale = !it->window || (!it->open && it->until.hasExpired());
        if (!stale && !found && it->window == top) {
            found = true;
            it = list.erase(it);
        } else if (stale) {
            it = list.erase(it);
        } else {
            ++it;
        }
    }
    return found;
}

QString openFileName(QWidget *parent, const QString &title, const QString &dir,
                     const QString &filter) {
    if (fileHook()) return fileHook()(false, title, dir, filter);
    const DialogScope scope(parent);
    return QFileDialog::getOpenFileName(parent, title, dir, filter);
}

QString saveFileName(QWidget *parent, const QString &title, const QString &dir,
                     const QString &filter) {
    if (fileHook()) return fileHook()(true, title, dir, filter);
    const DialogScope scope(parent);
    return QFileDialog::getSaveFileName(parent, title, dir, filter);
}

} // namespace chlink
