#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace chlink {

// The program's message boxes and file dialogs, in one place so that tests can answer
// them: with a hook installed nothing is shown and the hook's answer is used.
enum class BoxKind { Error, Question, Info };
enum class BoxIcon { Exclamation, Question, Information };

struct BoxRequest {
    BoxKind kind;
    QString text;
    QString title;
    BoxIcon icon = BoxIcon::Exclamation;
    bool defaultNo = false; // questions: Enter answers No
};

// Returns true for "Yes"/OK.
using BoxHook = std::function<bool(const BoxRequest &)>;
// Returns the chosen file name, or empty for a cancelled dialog.
using FileHook = std::function<QString(bool save, const QString &title, const QString &dir,
                                       const QString &filter)>;

void setBoxHook(BoxHook hook);
void setFileHook(FileHook hook);

// Exclamation icon, OK button, the application's default title unless given.
void errorBox(QWidget *parent, const QString &text, const QString &title = QString());
void infoBox(QWidget *parent, const QString &text, const QString &title = QString());
// Yes/No; true for Yes.
bool askYesNo(QWidget *parent, const QString &text, const QString &title = QString());
// Yes/No for a Yes that puts something at risk: exclamation icon, No is the default.
bool askYesNoRisky(QWidget *parent, const QString &text, const QString &title = QString());

// "Pas de connection avec chargeur".
void noConnectionBox(QWidget *parent);
// "Time out sur interface Serie", with an optional context line before it.
void timeoutBox(QWidget *parent, const QString &context = QString());

QString openFileName(QWidget *parent, const QString &title, const QString &dir,
                     const QString &filter);
QString saveFileName(QWidget *parent, const QString &title, const QString &dir,
                     const QString &filter);

} // namespace chlink
