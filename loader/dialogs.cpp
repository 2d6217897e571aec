#include "dialogs.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>

namespace loader {

namespace {
BoxHook &boxHook() {
    static BoxHook h;
    return h;
}
FileHook &fileHook() {
    static FileHook h;
    return h;
}
QuestionHook &questionHook() {
    static QuestionHook h;
    return h;
}

// "HEX|*.HEX|All|*.*" -> "HEX (*.HEX *.hex);;All (*)"
QString qtFilter(const QString &filter) {
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QString pattern = parts[i + 1];
        if (pattern == QLatin1String("*.*"))
            pattern = QStringLiteral("*");
        else if (pattern.toLower() != pattern)
            pattern += QLatin1Char(' ') + pattern.toLower(); // Linux names are case-sensitive
        out << parts[i] + QStringLiteral(" (") + pattern + QLatin1Char(')');
    }
    return out.join(QStringLiteral(";;"));
}
} // namespace

void setBoxHook(BoxHook hook) {
    boxHook() = std::move(hook);
}
void setFileHook(FileHook hook) {
    fileHook() = std::move(hook);
}
void setQuestionHook(QuestionHook hook) {
    questionHook() = std::move(hook);
}

bool askYesNo(QWidget *parent, const QString &text) {
    QMessageBox box(QMessageBox::Warning, QCoreApplication::applicationName(), text,
                    QMessageBox::Yes | QMessageBox::No, parent);
    box.button(QMessageBox::Yes)->setText(QStringLiteral("Oui"));
    box.button(QMessageBox::No)->setText(QStringLiteral("Non"));
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    if (questionHook()) return questionHook()(box) == QMessageBox::Yes;
    return box.exec() == QMessageBox::Yes;
}

void errorBox(QWidget *parent, const QString &text) {
    if (boxHook()) {
        boxHook()({text, QCoreApplication::applicationName()});
        return;
    }
    QMessageBox::warning(parent, QCoreApplication::applicationName(), text, QMessageBox::Ok);
}

QString openFileName(QWidget *parent, const QString &title, const QString &dir,
                     const QString &filter) {
    if (fileHook()) return fileHook()(title, dir, filter);
    return QFileDialog::getOpenFileName(parent, title, dir, qtFilter(filter));
}

} // namespace loader
