#include "messages.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QMessageBox>

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
QString titleOr(const QString &t) {
    return t.isEmpty() ? QCoreApplication::applicationName() : t;
}
} // namespace

void setBoxHook(BoxHook hook) {
    boxHook() = std::move(hook);
}
void setFileHook(FileHook hook) {
    fileHook() = std::move(hook);
}

void errorBox(QWidget *parent, const QString &text, const QString &title) {
    if (boxHook()) {
        boxHook()({BoxKind::Error, text, title});
        return;
    }
    QMessageBox::warning(parent, titleOr(title), text, QMessageBox::Ok);
}

void infoBox(QWidget *parent, const QString &text, const QString &title) {
    if (boxHook()) {
        boxHook()({BoxKind::Info, text, title, BoxIcon::Information});
        return;
    }
    QMessageBox::information(parent, titleOr(title), text, QMessageBox::Ok);
}

bool askYesNo(QWidget *parent, const QString &text, const QString &title) {
    if (boxHook()) return boxHook()({BoxKind::Question, text, title, BoxIcon::Question});
    return QMessageBox::question(parent, titleOr(title), text,
                                 QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

bool askYesNoRisky(QWidget *parent, const QString &text, const QString &title) {
    if (boxHook()) return boxHook()({BoxKind::Question, text, title, BoxIcon::Exclamation, true});
    return QMessageBox::warning(parent, titleOr(title), text, QMessageBox::Yes | QMessageBox::No,
                                QMessageBox::No) == QMessageBox::Yes;
}

void noConnectionBox(QWidget *parent) {
    errorBox(parent, QStringLiteral("Pas de connection avec chargeur"));
}

void timeoutBox(QWidget *parent, const QString &context) {
    const QString text = QStringLiteral("Time out sur interface Serie");
    errorBox(parent, context.isEmpty() ? text : context + QLatin1Char('\n') + text);
}

QString openFileName(QWidget *parent, const QString &title, const QString &dir,
                     const QString &filter) {
    if (fileHook()) return fileHook()(false, title, dir, filter);
    return QFileDialog::getOpenFileName(parent, title, dir, filter);
}

QString saveFileName(QWidget *parent, const QString &title, const QString &dir,
                     const QString &filter) {
    if (fileHook()) return fileHook()(true, title, dir, filter);
    return QFileDialog::getSaveFileName(parent, title, dir, filter);
}

} // namespace chlink
