#pragma once

#include <QMessageBox>
#include <QString>
#include <functional>

class QWidget;

namespace loader {

// sparlo's message boxes and file dialog in one place, so that tests can answer them:
// with a hook installed nothing is shown and the hook decides.
struct BoxRequest {
    QString text;
    QString title;
};
using BoxHook = std::function<void(const BoxRequest &)>;
// Returns the chosen file, or empty for a cancelled dialog.
using FileHook =
    std::function<QString(const QString &title, const QString &dir, const QString &filter)>;

// Answers a Yes/No box: gets the box as it would be shown and returns the button clicked.
using QuestionHook = std::function<QMessageBox::StandardButton(QMessageBox &box)>;

void setBoxHook(BoxHook hook);
void setFileHook(FileHook hook);
void setQuestionHook(QuestionHook hook);

// Exclamation icon, OK button.
void errorBox(QWidget *parent, const QString &text);
// Yes/No box with the exclamation icon; "Non" is the default (Enter and Escape answer it).
// True only for "Oui".
bool askYesNo(QWidget *parent, const QString &text);
// "HEX|*.HEX|HEX8|*.HEX8|All|*.*" style filter: description|pattern pairs.
QString openFileName(QWidget *parent, const QString &title, const QString &dir,
                     const QString &filter);

} // namespace loader
