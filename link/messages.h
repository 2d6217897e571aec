#pragma once

#include <QString>
#include <functional>

class QMessageBox;
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

// Called with each real box once it is on screen (tests press one of its buttons there).
// Used only when no BoxHook is installed.
using ShownBoxHook = std::function<void(QMessageBox *)>;

void setBoxHook(BoxHook hook);
void setFileHook(FileHook hook);
void setShownBoxHook(ShownBoxHook hook);

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
// "Erreur port com" and the reason. Never two at once: while one is open, another port
// error adds no second box.
void portErrorBox(QWidget *parent, const QString &reason);
// A window that is not there yet: "Cette fenêtre n'est pas encore disponible."
void unavailableBox(QWidget *parent);

// Held while a dialog of the program's own (not one of the boxes above) is up over
// `parent`: the activation its closing hands back is told by activationFromDialog().
class DialogScope {
  public:
    explicit DialogScope(QWidget *parent);
    ~DialogScope();
    DialogScope(const DialogScope &) = delete;
    DialogScope &operator=(const DialogScope &) = delete;

  private:
    int m_id = 0;
};

// True when `window` is being activated because one of these boxes or dialogs, shown over it,
// has just closed: the window system hands the activation back to the window underneath.
// Answers once per closed dialog.
bool activationFromDialog(QWidget *window);

QString openFileName(QWidget *parent, const QString &title, const QString &dir,
                     const QString &filter);
QString saveFileName(QWidget *parent, const QString &title, const QString &dir,
                     const QString &filter);

} // namespace chlink
